#include "install/client_install.h"

#include "filesystem/disk_space.h"
#include "foundation/diagnostic_log.h"
#include "foundation/error.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"
#include "install/install_transaction.h"
#include "install/installed_marker.h"
#include "install/package_extraction.h"
#include "install/store_install.h"
#include "net/http_transfer.h"
#include "net/package_digest.h"
#include "net/sha256_hash.h"

#include <windows.h>

namespace launcher {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// Streams the package into `file` and returns its digest, computed on the way. Refuses at once a
// package announced larger than the room left beside the install directory.
std::string downloadPackage(const json& package, const fs::path& file, const fs::path& parent,
                            CancelToken& token, const ProgressCallback& progress) {
    Sha256Hash hash;
    UniqueFile output{
        ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (!output) throw Error("无法创建游戏下载文件。");
    httpTransfer(
        clientPackageRequest(package), token,
        [&](const std::uint8_t* bytes, std::uint32_t count) {
            DWORD written = 0;
            if (!::WriteFile(output.get(), bytes, count, &written, nullptr) || written != count)
                throw Error("无法保存安装包，请检查磁盘空间。");
            hash.update(bytes, count);
        },
        // The transfer's first report carries the announced length, before any byte of the body.
        [&, spaceChecked = false, lastLog = ::GetTickCount64()](
            const std::wstring& status, std::uint64_t done, std::uint64_t total) mutable {
            if (!std::exchange(spaceChecked, true)) requireFreeSpace(parent, total);
            // Support sees how a slow download went without a line per chunk.
            if (const ULONGLONG now = ::GetTickCount64(); now - lastLog >= 10000) {
                lastLog = now;
                logEvent("download.progress", {{"bytes", done}, {"total", total}});
            }
            if (progress) progress(status, done, total);
        });
    output.reset();
    return hash.finishHex();
}

void checkDigest(const json& package, const std::string& digest) {
    const std::string configured = package.value("sha256", std::string());
    const bool matches = packageDigestMatches(configured, digest);
    // Both digests, so an operator can tell a stale configuration from a damaged download.
    logEvent("install.digest", {{"expected", configured.empty() ? "(none configured)" : configured},
                                {"computed", digest},
                                {"matches", matches}});
    if (!matches) throw Error(packageDigestMismatchMessage);
}

void installFullPackage(InstallTransaction& install, const json& package, CancelToken& token,
                        const ProgressCallback& progress) {
    const fs::path packageFile = install.staging() / L"client.zip.part";
    const std::string digest = downloadPackage(package, packageFile, install.parent(), token, progress);
    checkDigest(package, digest);
    const fs::path content = install.makeContent();
    const json files =
        extractClientPackage(packageFile, content, package.at("maxExtractBytes").get<std::uint64_t>(), token,
                             progress, install.directory());
    install.complete(content, files, digest, progress);
}

} // namespace

HttpRequest clientPackageRequest(const json& package) {
    return {.url = multiByteToUtf16(package.at("downloadUrl").get<std::string>(), codePageUtf8),
            .body = {},
            .usePost = false,
            .downloadMode = true,
            .maxBytes = package.at("maxDownloadBytes").get<std::uint64_t>(),
            // Without a digest only TLS vouches for the package, so no hop may fall back to plain HTTP.
            .httpsOnly = package.value("sha256", std::string()).empty()};
}

void rejectUnreadableMarker(std::string_view marker) {
    if (marker.size() > maxMarkerFileBytes) throw Error("安装包文件数量过多。");
}

void installClient(const LauncherConfig& config, CancelToken& token, const ProgressCallback& progress,
                   std::chrono::milliseconds busyWait) {
    InstallOptions options;
    options.busyWait = busyWait;
    installClient(config, token, progress, options);
}

void installClient(const LauncherConfig& config, CancelToken& token, const ProgressCallback& progress,
                   const InstallOptions& options) {
    InstallTransaction install(config, token, options.busyWait);
    const json& package = config.document.at("clientPackage");
    if (package.contains("index") && installFromStore(install, config, token, progress, options)) return;
    installFullPackage(install, package, token, progress);
}

} // namespace launcher
