#pragma once

// Building the new client's files from chunks: those the installed client holds and those in the
// chunk cache. Every file is verified by its size and digest as it is written; a file the installed
// client already holds unchanged is linked into place instead of written again.
#include "foundation/cancel_token.h"
#include "foundation/progress.h"
#include "install/chunk_cache.h"
#include "install/installed_chunks.h"
#include "update/chunk_index.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <string>
#include <vector>

namespace launcher {

// Judges every folder and file of `index` as the package's entries are judged, under `content`,
// which becomes `installDirectory`: the path rules (unsafe names, reserved names, length,
// duplicates ignoring case) and the package limits on count and total size. Returns the bytes of
// all files. Throws those rules' Error.
std::uint64_t checkStoreTargets(const ChunkIndex& index, const std::filesystem::path& content,
                                const std::filesystem::path& installDirectory, std::uint64_t maxTotalBytes);

// Writes every folder and file of `index` (checked by checkStoreTargets, `totalBytes` in all) under
// `content`, reporting "正在解压客户端" (bytes written of the total), and returns the files written
// as the marker lists them. Throws
// Error("安装包文件损坏或解压不完整，请重新下载。") for a file that does not come out with its size and
// digest (a cached chunk from an earlier install that fails its digest is removed from the cache
// first), Error("无法写入客户端文件，请检查磁盘空间和目录权限。") when a file cannot be written, or
// Canceled.
nlohmann::json buildFromChunks(const ChunkIndex& index, std::uint64_t totalBytes,
                               const std::filesystem::path& content,
                               const std::filesystem::path& installDirectory,
                               const InstalledChunks& installed, const ChunkCache& cache, CancelToken& token,
                               const ProgressCallback& progress);

} // namespace launcher
