#pragma once

#include "foundation/cancel_token.h"
#include "foundation/progress.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>

namespace launcher {

inline constexpr std::uint64_t maxPackageEntries = 200000;
inline constexpr std::size_t maxEntryNameBytes = 4095;

// Extracts the client package into the empty `contentDirectory` under the launcher's limits and
// path rules, and returns the files written as a JSON array of {"length", "path"} in archive
// order. Reports "正在解压客户端" (bytes written of the declared total) at most every 100 ms and
// "正在检查客户端" at the end. Throws Error with the player's sentence, Canceled, or the
// platform's filesystem_error for a failed directory creation. Refuses a declared total the volume
// has no room for before anything is written. Runs on the install worker.
// `installedDirectory`, when given, is where the content will be moved once complete: the path
// rules then apply to the entries' paths there.
nlohmann::json extractClientPackage(const std::filesystem::path& package,
                                    const std::filesystem::path& contentDirectory,
                                    std::uint64_t maxTotalBytes, CancelToken& token,
                                    const ProgressCallback& progress,
                                    const std::filesystem::path& installedDirectory = {});

} // namespace launcher
