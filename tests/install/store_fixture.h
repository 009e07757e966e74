#pragma once

// A content store written the way the publisher writes one, for the install tests: the files cut
// by the same chunker, chunks deflated when that helps, one pack per version.
#include "update/chunk_index.h"

#include <filesystem>
#include <string>
#include <vector>

namespace launcher::testing {

struct StoreEntry {
    std::string path; // a trailing "/" makes a folder
    std::string data;
};

struct PublishedStore {
    ChunkIndex index;
    std::string indexBytes;
    std::string indexDigest;     // lower case
    std::uint64_t packBytes = 0; // of the pack this version added
};

// Writes the version's new chunks into one new pack under `root`/packs and its index under
// `root`/indexes; chunks an earlier version of the same store holds are referenced, not written.
// `chunking` small enough to cut test files into several chunks.
PublishedStore publishStore(const std::filesystem::path& root, const std::vector<StoreEntry>& entries,
                            const std::string& packageSha256, std::uint64_t packageSize,
                            const ChunkingParameters& chunking,
                            const std::vector<PublishedStore>& earlier = {});

} // namespace launcher::testing
