#pragma once

// The verified chunks of a store install, kept until the install completes so that a cancelled,
// failed or killed install continues where it stopped. Chunks are kept in bundle files of a few
// mebibytes each: a first install of many small files must not make as many files twice.
//
// A bundle, "<token>.chunks": the chunks' bytes back to back, then for each chunk its digest
// (32 bytes) and size (4 bytes, little-endian), then the count (4 bytes) and "GHCHUNK1". A bundle
// is written under "<token>.part" and takes its name only once whole, so a killed launcher leaves
// either a whole bundle or a part file, which the next install removes.
#include "foundation/unique_handle.h"
#include "net/sha256_hash.h"
#include "update/chunk_index.h"

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace launcher {

using DigestSet = std::unordered_set<Sha256Digest, StoreDigestHash>;

struct CachedChunk {
    std::uint32_t bundle = 0; // into ChunkCache::bundlePath
    std::uint64_t offset = 0;
    std::uint32_t size = 0;
    bool earlierRun = false; // from an install before this one: to be verified again when read
};

class ChunkCache {
public:
    // The cache in `folder`, created if missing, with the bundles earlier installs left in it.
    // Unreadable bundles and part files are removed. Throws
    // Error("无法写入客户端文件，请检查磁盘空间和目录权限。") when the folder cannot be made.
    explicit ChunkCache(std::filesystem::path folder);

    const std::filesystem::path& folder() const { return folder_; }

    // Where the chunk lies, or null. Not while bundles are being added.
    const CachedChunk* find(const Sha256Digest& digest) const;
    const std::filesystem::path& bundlePath(std::uint32_t bundle) const { return bundles_[bundle]; }

    // Removes every bundle that holds none of `needed`: the cache never holds more than one
    // install needs.
    void keepOnly(const DigestSet& needed);

    // Removes every bundle and the folder: the install it served is complete.
    void clear() noexcept;

    // A bundle whose chunks were verified on their way in; any thread.
    void addBundle(const std::filesystem::path& bundle,
                   const std::vector<std::pair<Sha256Digest, std::uint32_t>>& chunks);

private:
    void readBundle(const std::filesystem::path& bundle);

    std::filesystem::path folder_;
    std::mutex lock_;
    std::vector<std::filesystem::path> bundles_;
    std::unordered_map<Sha256Digest, CachedChunk, StoreDigestHash> chunks_;
};

// Writes verified chunks into bundles of the cache, one at a time from one thread. A chunk is
// written while it arrives and kept only when its digest matched.
class ChunkBundleWriter {
public:
    explicit ChunkBundleWriter(ChunkCache& cache);
    ~ChunkBundleWriter(); // removes an uncommitted part file
    ChunkBundleWriter(const ChunkBundleWriter&) = delete;
    ChunkBundleWriter& operator=(const ChunkBundleWriter&) = delete;

    // Appends bytes of the chunk being received.
    void write(const std::uint8_t* bytes, std::size_t size);
    // The chunk received since the last call is whole and has this digest and size. The bundle is
    // committed once it holds a few mebibytes.
    void keepChunk(const Sha256Digest& digest, std::uint32_t size);
    // Drops what was written of a chunk that failed its digest.
    void discardChunk();
    // Gives the bundle its name and hands it to the cache; nothing to do when empty.
    void commit();

private:
    void open();

    ChunkCache& cache_;
    std::filesystem::path part_;
    UniqueFile file_;
    std::uint64_t kept_ = 0;    // bytes of whole chunks
    std::uint64_t written_ = 0; // bytes written, the chunk in progress included
    std::vector<std::pair<Sha256Digest, std::uint32_t>> chunks_;
};

} // namespace launcher
