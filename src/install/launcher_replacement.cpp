#include "install/launcher_replacement.h"

#include "foundation/busy_file.h"
#include "foundation/diagnostic_log.h"
#include "foundation/error.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"
#include "install/package_digest.h"
#include "net/http_transfer.h"
#include "net/sha256_hash.h"

#include <windows.h>

#include <memory>

namespace launcher {
namespace {

// Far above any launcher build; only keeps a hostile server from filling the disk.
constexpr std::uint64_t maxLauncherBytes = 256ull << 20;

std::filesystem::path withSuffix(const std::filesystem::path& path, const wchar_t* suffix) {
    return path.native() + suffix;
}

void downloadRelease(const LauncherRelease& release, const std::filesystem::path& target,
                     CancelToken& token) {
    UniqueFile file{::CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (!file) throw Error("无法写入启动器更新，请检查目录权限。");
    Sha256Hash digest;
    HttpRequest request;
    request.url = multiByteToUtf16(release.downloadUrl, codePageUtf8);
    request.downloadMode = true;
    request.maxBytes = maxLauncherBytes;
    request.updateChannel = true;
    httpTransfer(request, token,
                 [&](const std::uint8_t* bytes, std::uint32_t count) {
                     digest.update(bytes, count);
                     DWORD written = 0;
                     if (!::WriteFile(file.get(), bytes, count, &written, nullptr) || written != count)
                         throw Error("无法写入启动器更新，请检查磁盘空间。");
                 },
                 {});
    if (!packageDigestMatches(release.sha256, digest.finishHex())) throw Error("启动器更新校验失败。");
    if (!::FlushFileBuffers(file.get())) throw Error("无法写入启动器更新，请检查磁盘空间。");
}

} // namespace

void replaceLauncherExecutable(const LauncherRelease& release, const std::filesystem::path& executable,
                               CancelToken& token) {
    const std::filesystem::path fresh = withSuffix(executable, L".new");
    const std::filesystem::path old = withSuffix(executable, L".old");
    bool placed = false;
    const ScopeExit removeFresh([&] {
        if (!placed) ::DeleteFileW(fresh.c_str());
    });
    downloadRelease(release, fresh, token);
    throwIfCanceled(token);
    // An ".old" still held by a launcher that is closing cannot be replaced; this run keeps its build.
    if (!::DeleteFileW(old.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND)
        throw Error("启动器旧版本仍在使用，请稍后重试。");
    if (!::MoveFileExW(executable.c_str(), old.c_str(), MOVEFILE_WRITE_THROUGH))
        throw Error("无法更新启动器，请检查目录权限。");
    if (!::MoveFileExW(fresh.c_str(), executable.c_str(), MOVEFILE_WRITE_THROUGH)) {
        const DWORD failure = ::GetLastError();
        // Put the running build back, whatever it takes: without it nothing starts next time.
        moveFileWhenFree(old.c_str(), executable.c_str(), MOVEFILE_WRITE_THROUGH, nullptr);
        logEvent("update.launcher_swap_failed", {{"error", failure}});
        throw Error("无法更新启动器，请检查目录权限。");
    }
    placed = true;
    logEvent("update.launcher_replaced", {{"version", release.version}, {"executable", executable}});
}

void startLauncherExecutable(const std::filesystem::path& executable,
                             const std::filesystem::path& workingDirectory) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION created{};
    std::wstring commandLine = L"\"" + executable.native() + L"\"";
    if (!::CreateProcessW(executable.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                          CREATE_UNICODE_ENVIRONMENT, nullptr, workingDirectory.c_str(), &startup, &created))
        throw Error("无法启动新版本启动器。");
    const UniqueKernelHandle process{created.hProcess};
    const UniqueKernelHandle thread{created.hThread};
    logEvent("update.launcher_started", {{"pid", created.dwProcessId}});
}

void removeReplacedLauncher(const std::filesystem::path& executable) noexcept {
    const std::filesystem::path old = withSuffix(executable, L".old");
    if (::DeleteFileW(old.c_str())) logEvent("update.old_launcher_removed");
}

bool fileHasDigest(const std::filesystem::path& file, const std::string& sha256) noexcept {
    try {
        const UniqueFile source{::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                              nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr)};
        if (!source) return false;
        Sha256Hash digest;
        const auto buffer = std::make_unique<char[]>(1 << 20);
        for (DWORD read = 0;;) {
            if (!::ReadFile(source.get(), buffer.get(), 1 << 20, &read, nullptr)) return false;
            if (read == 0) break;
            digest.update(buffer.get(), read);
        }
        return packageDigestMatches(sha256, digest.finishHex()) && !sha256.empty();
    } catch (...) {
        return false;
    }
}

} // namespace launcher
