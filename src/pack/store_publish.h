#pragma once

// Publishing a client version into a content store: the package's files cut into content-defined
// chunks, the chunks no index of the store has yet written into new packs, and the version's
// index beside them. Publishing the next version into the same store writes only its new chunks.
#include "foundation/cancel_token.h"
#include "foundation/progress.h"
#include "net/sha256_hash.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace launcher {

// New packs end once they reach about this size: small enough to fetch again whole, large enough
// that a client of a gibibyte is a few dozen files.
inline constexpr std::uint64_t storePackRollBytes = std::uint64_t{64} << 20;

struct StoreTarget {
    std::filesystem::path folder;                 // the store on this machine; made if missing
    std::string url;                              // where the folder is served from, ending in "/"
    std::uint64_t packBytes = storePackRollBytes; // where a new pack ends
};

struct StorePublication {
    Sha256Digest indexDigest{};
    std::uint64_t indexSize = 0;
    std::string indexUrl;            // the target's url and indexStorePath
    std::uint64_t chunks = 0;        // the version's, each listed once
    std::uint64_t newChunks = 0;     // written into new packs
    std::uint64_t newChunkBytes = 0; // their content, inflated
    std::uint64_t newPackBytes = 0;  // what the new packs hold
    std::vector<std::string> upload; // the new packs, then the index: paths in the store, "/" between
};

// Refuses (rule store-url) a store address that does not end in "/" or that launchers would not
// contact for the store's files. Pure.
void checkStoreUrl(const std::string& url);

// Writes `package` (already checked) into the store as version `version`: every index there is read
// first (and refused, as readStoredIndex refuses, when damaged; so is a pack one names that is
// missing or of another size), a chunk any of them lists is reused, a new one is raw-deflated when
// that makes it strictly smaller and appended to a new pack; the index, naming the package's
// `packageDigest` and `packageSize`, is written last, atomically. Memory holds one chunk at a time,
// whatever the files' sizes. Throws ToolRefusal or Canceled; a new pack not finished is removed.
StorePublication publishToStore(const StoreTarget& target, const std::filesystem::path& package,
                                const std::string& version, const Sha256Digest& packageDigest,
                                std::uint64_t packageSize, CancelToken& token,
                                const ProgressCallback& progress);

// The clientPackage member that names the index: {"sha256", "size", "url"}.
nlohmann::json storeIndexMember(const StorePublication& publication);

} // namespace launcher
