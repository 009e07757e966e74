#include "update/launcher_replacement.h"

#include "foundation/busy_file.h"
#include "foundation/diagnostic_log.h"
#include "foundation/error.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"
#include "net/file_digest.h"
#include "net/http_transfer.h"
#include "net/package_digest.h"
#include "net/sha256_hash.h"

#include <windows.h>

#include <vector>

namespace launcher {
namespace {

// Far above any launcher build; only keeps a hostile server from filling the disk.
constexpr std::uint64_t maxLauncherBytes = 256ull << 20;
// A launcher build is a few megabytes: a minute is plenty on any connection players have, and a
// larger build announced may take as long as 32 KiB a second brings it in. A server that trickles
// a byte now and then is cut off there rather than holding the player at the update.
constexpr ULONGLONG launcherDownloadFloorMs = 60000;
constexpr std::uint32_t slowestLauncherBytesPerSecond = 32 * 1024;

std::filesystem::path withSuffix(const std::filesystem::path& path, const wchar_t* suffix) {
    return path.native() + suffix;
}

// Only an open handle locks, and the file goes with it: a launcher that died leaves nothing behind.
UniqueFile takeReplacementLock(const std::filesystem::path& executable) {
    const std::filesystem::path lockPath = withSuffix(executable, L".update.lock");
    UniqueFile lock{::CreateFileW(lockPath.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr)};
    if (!lock) throw Error("另一个启动器正在更新，请稍后重试。");
    return lock;
}

// Streams the build into `file` and checks its digest on the way.
void downloadRelease(const LauncherRelease& release, HANDLE file, CancelToken& token,
                     const ProgressCallback& progress) {
    Sha256Hash digest;
    httpTransfer(
        launcherReleaseRequest(release), token,
        [&](const std::uint8_t* bytes, std::uint32_t count) {
            DWORD written = 0;
            if (!::WriteFile(file, bytes, count, &written, nullptr) || written != count)
                throw Error("无法写入启动器更新，请检查磁盘空间。");
            digest.update(bytes, count);
        },
        [&](const std::wstring&, std::uint64_t done, std::uint64_t total) {
            if (progress) progress(L"正在更新启动器", done, total);
        });
    if (!packageDigestMatches(release.sha256, digest.finishHex())) throw Error("启动器更新校验失败。");
    if (!::FlushFileBuffers(file)) throw Error("无法写入启动器更新，请检查磁盘空间。");
}

// Renames the file open as `file` to `target`, which must not exist.
bool renameOpenFile(HANDLE file, const std::filesystem::path& target) {
    const std::wstring& name = target.native();
    std::vector<std::byte> buffer(sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
    std::copy(name.begin(), name.end(), rename->FileName);
    return ::SetFileInformationByHandle(file, FileRenameInfo, rename, static_cast<DWORD>(buffer.size()));
}

// Puts the running build back where it was. Whatever it takes: without it nothing starts next time.
void restoreRunningBuild(const std::filesystem::path& old, const std::filesystem::path& executable) {
    const std::error_code error =
        moveFileWhenFree(old.c_str(), executable.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!error) return;
    // A running executable can always be read: a copy of it stands in for the renamed file.
    const bool copied = ::CopyFileW(old.c_str(), executable.c_str(), FALSE);
    logEvent("update.launcher_restore_failed", {{"error", error.value()}, {"copied", copied}});
}

} // namespace

void replaceLauncherExecutable(const LauncherRelease& release, const std::filesystem::path& executable,
                               CancelToken& token, const ProgressCallback& progress) {
    const UniqueFile lock = takeReplacementLock(executable);
    const std::filesystem::path fresh = withSuffix(executable, L".new");
    const std::filesystem::path old = withSuffix(executable, L".old");
    // Readers may look; nobody else may write, rename or delete it until it is in place.
    UniqueFile file{::CreateFileW(fresh.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                                  nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (!file) throw Error("无法写入启动器更新，请检查目录权限。");
    bool placed = false;
    const ScopeExit removeFresh([&] {
        if (placed) return;
        file.reset();
        ::DeleteFileW(fresh.c_str());
    });
    downloadRelease(release, file.get(), token, progress);
    throwIfCanceled(token);
    // An ".old" still held by a launcher that is closing cannot be replaced; this run keeps its build.
    if (!::DeleteFileW(old.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND)
        throw Error("启动器旧版本仍在使用，请稍后重试。");
    if (!::MoveFileExW(executable.c_str(), old.c_str(), MOVEFILE_WRITE_THROUGH))
        throw Error("无法更新启动器，请检查目录权限。");
    if (progress) progress(L"正在安装启动器", 0, 0);
    if (!renameOpenFile(file.get(), executable)) {
        logEvent("update.launcher_swap_failed", {{"error", ::GetLastError()}});
        restoreRunningBuild(old, executable);
        throw Error("无法更新启动器，请检查目录权限。");
    }
    placed = true;
    logEvent("update.launcher_replaced", {{"version", release.version}, {"executable", executable}});
}

void startLauncherExecutable(const std::filesystem::path& executable,
                             const std::filesystem::path& workingDirectory, const std::string& sha256) {
    // Held until the new process has mapped its image: no writer can slip in after the check.
    const UniqueFile image{::CreateFileW(executable.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr)};
    if (!image || sha256.empty() || !packageDigestMatches(sha256, sha256OfFile(image.get())))
        throw Error("启动器更新校验失败。");
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

HttpRequest launcherReleaseRequest(const LauncherRelease& release) {
    HttpRequest request;
    request.url = multiByteToUtf16(release.downloadUrl, codePageUtf8);
    request.downloadMode = true;
    request.maxBytes = maxLauncherBytes;
    request.updateChannel = true;
    request.deadline = ::GetTickCount64() + launcherDownloadFloorMs;
    request.minimumBytesPerSecond = slowestLauncherBytesPerSecond;
    return request;
}

void removeReplacedLauncher(const std::filesystem::path& executable) noexcept {
    const std::filesystem::path old = withSuffix(executable, L".old");
    if (::DeleteFileW(old.c_str())) logEvent("update.old_launcher_removed");
}

bool fileHasDigest(const std::filesystem::path& file, const std::string& sha256) noexcept {
    try {
        return !sha256.empty() && packageDigestMatches(sha256, sha256OfFile(file));
    } catch (...) {
        return false;
    }
}

} // namespace launcher
