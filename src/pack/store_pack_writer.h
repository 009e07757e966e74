#pragma once

// One new pack file of a content store: chunks appended back to back under a temporary name in the
// store's packs folder, then named by the SHA-256 of all its bytes, so a published pack never
// changes under its name.
#include "foundation/unique_handle.h"
#include "net/sha256_hash.h"
#include "update/chunk_index.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace launcher {

class StorePackWriter {
public:
    // Creates the temporary file in `packsFolder` (made if missing). Throws ToolRefusal store-write
    // naming the folder.
    explicit StorePackWriter(const std::filesystem::path& packsFolder);
    // A pack that was not finished leaves nothing behind.
    ~StorePackWriter();
    StorePackWriter(const StorePackWriter&) = delete;
    StorePackWriter& operator=(const StorePackWriter&) = delete;

    // Appends `count` bytes and returns the offset they start at. Throws ToolRefusal store-write.
    std::uint64_t append(const void* bytes, std::size_t count);
    std::uint64_t size() const { return size_; }

    // Flushes the pack and gives it its name, packs/<digest>.pack, in place of any file of that name.
    // Throws ToolRefusal store-write.
    IndexedPack finish();

private:
    [[noreturn]] void refuseWrite(const std::filesystem::path& file) const;

    std::filesystem::path folder_;
    std::filesystem::path temporary_;
    UniqueFile file_;
    Sha256Hash hash_;
    std::uint64_t size_ = 0;
    bool finished_ = false;
};

} // namespace launcher
