#pragma once

// gatehouse-pack check --store: a content store judged against the package its index stands for,
// as a launcher would rebuild the client from it: every pack, every chunk, every file.
#include "foundation/cancel_token.h"
#include "foundation/progress.h"
#include "net/sha256_hash.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace launcher {

struct StoreCheckRequest {
    // The store folder; without it, the folder above the index file's (indexes/..).
    std::optional<std::filesystem::path> store;
    // The index to check; without it, each index in the store that names the package.
    std::optional<std::filesystem::path> indexFile;
};

struct CheckedStoreIndex {
    std::filesystem::path file;
    std::string version;
    std::uint64_t packs = 0;
    std::uint64_t packBytes = 0;
    std::uint64_t chunks = 0;
    std::uint64_t files = 0;
    std::uint64_t directories = 0;
};

// Checks the store's index or indexes of `package` (whose SHA-256 and size are given, as the
// package check just found them): the index names that digest and size; every pack it names is
// there with its size and SHA-256; every chunk inflates to its size and digest; every file is the
// concatenation of its chunks and has its digest; the index lists exactly the package's files
// (same paths in the same order, same bytes) and folders. Throws ToolRefusal naming the rule
// (store-...), the index, pack or entry, and the values compared; or Canceled.
std::vector<CheckedStoreIndex> checkContentStore(const std::filesystem::path& package,
                                                 const Sha256Digest& packageDigest, std::uint64_t packageSize,
                                                 const StoreCheckRequest& request, CancelToken& token,
                                                 const ProgressCallback& progress);

} // namespace launcher
