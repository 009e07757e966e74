#pragma once

// Where the ZIP reader gets its bytes. Kept free of platform headers so the reader can also be
// built natively and fed from memory (the fuzz targets do that).
#include <cstddef>
#include <cstdint>

namespace launcher {

class ZipSource {
public:
    virtual ~ZipSource() = default;

    // The archive's length in bytes; false if it cannot be learned.
    virtual bool size(std::uint64_t& bytes) = 0;

    // Fills `buffer` with `count` bytes from `offset`. The reader only asks for ranges inside
    // size(); false if any byte could not be read.
    virtual bool readAt(std::uint64_t offset, void* buffer, std::size_t count) = 0;
};

} // namespace launcher
