#pragma once

// A content store as a folder on the publisher's machine, laid out as it is served
// (update/chunk_index.h): indexes/<digest>.index and packs/<digest>.pack, shared by every version
// published into it. Nothing read from it is trusted by its name alone: an index's bytes must have
// the digest its name gives before they are used.
#include "update/chunk_index.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace launcher {

std::filesystem::path storeIndexFile(const std::filesystem::path& store, const Sha256Digest& digest);
std::filesystem::path storePackFile(const std::filesystem::path& store, const Sha256Digest& digest);

// The digests that name the files of `folder` called "<64 lower-case hexadecimal digits><suffix>"
// (".index", ".pack"), sorted; anything else there is not the store's. None when the folder is
// missing.
std::vector<Sha256Digest> storeDigestsIn(const std::filesystem::path& folder, const std::wstring& suffix);

// One index file, read and checked.
struct StoredIndex {
    std::filesystem::path file;
    Sha256Digest digest{}; // of its bytes
    std::uint64_t size = 0;
    ChunkIndex index;
};

// Reads the index file `file` and checks that its bytes have the digest its name gives (when it is
// named "<digest>.index", as the store names it) and that they parse (parseChunkIndex). Throws
// ToolRefusal naming the file: store-index-unreadable, store-index-name, store-index-invalid.
StoredIndex readStoredIndex(const std::filesystem::path& file);

// Reads each index in `store`'s indexes folder in name order and hands it to `use`, one at a time.
void forEachStoredIndex(const std::filesystem::path& store,
                        const std::function<void(const StoredIndex&)>& use);

// Requires the pack file `file` to be there with `size` bytes. Throws ToolRefusal naming it:
// store-pack-missing, store-pack-size.
void requireStorePack(const std::filesystem::path& file, std::uint64_t size);

} // namespace launcher
