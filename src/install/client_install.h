#pragma once

#include "config/launcher_config.h"
#include "foundation/busy_file.h"
#include "foundation/cancel_token.h"
#include "foundation/progress.h"
#include "net/http_transfer.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <string_view>

namespace launcher {

struct InstallOptions {
    // A file or folder that a scanner holds is waited for at most this long.
    std::chrono::milliseconds busyWait = busyFileWait;
    // Where verified chunks of a store install are kept until it completes, so that an interrupted
    // install continues; by default %LOCALAPPDATA%\K3Gatehouse\Chunks.
    std::optional<std::filesystem::path> chunkCache;
    // How many connections a store install fetches chunks on at once.
    unsigned connections = 4;
};

// Downloads, verifies and extracts the configured client package beside the install directory
// and swaps it into place under a cross-process lock, keeping the previous installation until the
// swap succeeded; from its content store when the package names one (see below). Staging
// leftovers are removed on every exit. A file or folder that a scanner holds is waited for at most
// `busyWait`. Throws Error with the player's sentence, Canceled, or the platform's
// filesystem_error for a failed directory operation. Blocking; runs on the install worker.
void installClient(const LauncherConfig& config, CancelToken& token, const ProgressCallback& progress,
                   std::chrono::milliseconds busyWait = busyFileWait);

// The same, from the content store the configuration's clientPackage names in its "index" member
// when it has one: only the chunks neither the installed client nor the chunk cache holds are
// fetched. A store that cannot be used is logged and the full package installed instead.
void installClient(const LauncherConfig& config, CancelToken& token, const ProgressCallback& progress,
                   const InstallOptions& options);

// The request that downloads the configuration's `clientPackage`: its address, its size limit, and
// HTTPS on every hop when it names no digest. Throws the JSON library's errors for a missing member.
HttpRequest clientPackageRequest(const nlohmann::json& package);

// Throws Error("安装包文件数量过多。") for marker text larger than the readiness check reads: the
// client would install once and then be downloaded again on every start.
void rejectUnreadableMarker(std::string_view marker);

} // namespace launcher
