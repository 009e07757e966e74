#pragma once

// The launcher replacing itself with a newer build named by a signed update manifest, the way
// Windows allows it: a running executable cannot be overwritten, but it can be renamed.
#include "foundation/cancel_token.h"
#include "foundation/progress.h"
#include "net/http_transfer.h"
#include "update/update_manifest.h"

#include <filesystem>
#include <string>

namespace launcher {

// Downloads `release` beside `executable` as "<name>.new", written and hashed through one handle
// that keeps other writers out, checks its digest, renames the running `executable` to
// "<name>.old" and moves the new build into place through that same handle. Holds
// "<name>.update.lock" in the folder throughout, so two launchers of one folder never replace it
// at once. The download is bounded as a whole: a minute, or longer for a build announced larger
// than a slow connection brings in a minute. `progress` (may be empty) hears "正在更新启动器" with
// the bytes received and announced, then ("正在安装启动器", 0, 0) once the running build has moved
// aside and before the new one moves in. On any failure the running build is back at
// `executable` (renamed back, waiting while it is busy, or else copied back) and no ".new" is left.
// Throws Error or Canceled. Runs on a worker.
void replaceLauncherExecutable(const LauncherRelease& release, const std::filesystem::path& executable,
                               CancelToken& token, const ProgressCallback& progress);

// Starts `executable` in `workingDirectory`, without arguments, if its SHA-256 is `sha256`: the
// file is hashed through a handle that keeps writers out until the new process has its image, so
// the bytes checked are the bytes started. Throws Error.
void startLauncherExecutable(const std::filesystem::path& executable,
                             const std::filesystem::path& workingDirectory, const std::string& sha256);

// The request that downloads `release`: the update channel's endpoint rule, at most 256 MiB, and
// the whole download bounded as described above, from the moment of this call.
HttpRequest launcherReleaseRequest(const LauncherRelease& release);

// Removes the "<name>.old" an earlier replacement left; keeps it quietly while it is still in use
// (the old launcher may still be closing).
void removeReplacedLauncher(const std::filesystem::path& executable) noexcept;

// Whether the file's SHA-256 is `sha256` (either letter case). False when it cannot be read.
bool fileHasDigest(const std::filesystem::path& file, const std::string& sha256) noexcept;

} // namespace launcher
