#pragma once

// The launcher replacing itself with a newer build named by a signed update manifest, the way
// Windows allows it: a running executable cannot be overwritten, but it can be renamed.
#include "config/update_manifest.h"
#include "foundation/cancel_token.h"

#include <filesystem>

namespace launcher {

// Downloads `release` beside `executable` as "<name>.new" (its digest checked), renames the running
// `executable` to "<name>.old" and moves the new build into its place. On any failure the running
// executable is where it was and no ".new" file is left. Throws Error or Canceled.
void replaceLauncherExecutable(const LauncherRelease& release, const std::filesystem::path& executable,
                               CancelToken& token);

// Starts `executable` in `workingDirectory`, without arguments. Throws Error.
void startLauncherExecutable(const std::filesystem::path& executable,
                             const std::filesystem::path& workingDirectory);

// Removes the "<name>.old" an earlier replacement left; keeps it quietly while it is still in use
// (the old launcher may still be closing).
void removeReplacedLauncher(const std::filesystem::path& executable) noexcept;

// Whether the file's SHA-256 is `sha256` (either letter case). False when it cannot be read.
bool fileHasDigest(const std::filesystem::path& file, const std::string& sha256) noexcept;

} // namespace launcher
