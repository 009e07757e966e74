#pragma once

// What the installed client already holds of a new version: its files are read, cut into chunks
// the way the publisher cut the new version's, and hashed. A file the player changed simply
// yields other digests and is not reused.
#include "foundation/cancel_token.h"
#include "foundation/progress.h"
#include "update/chunk_index.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <unordered_map>
#include <vector>

namespace launcher {

struct InstalledChunk {
    std::uint32_t file = 0; // into InstalledChunks::files
    std::uint64_t offset = 0;
    std::uint32_t size = 0;
};

struct InstalledChunks {
    std::filesystem::path directory;
    std::vector<std::uint32_t> files; // the installed files that were read, by their file in the index
    std::unordered_map<Sha256Digest, InstalledChunk, StoreDigestHash> chunks;
    // For each file of the index: the installed file (into `files`) whose content is exactly its.
    std::vector<std::optional<std::uint32_t>> sameFile;
    std::uint64_t bytesRead = 0;

    // Where the installed file `file` (into `files`) lies.
    std::filesystem::path path(const ChunkIndex& index, std::uint32_t file) const;
};

// Reads the files of `installDirectory` found at the paths of `index`'s files, several at once,
// reporting "正在比对已安装的客户端" (bytes read of the bytes to read). Paths the path rules refuse,
// links, and files that cannot be read are passed over. Throws only Canceled, and the progress
// callback's exceptions.
InstalledChunks findInstalledChunks(const std::filesystem::path& installDirectory, const ChunkIndex& index,
                                    CancelToken& token, const ProgressCallback& progress);

} // namespace launcher
