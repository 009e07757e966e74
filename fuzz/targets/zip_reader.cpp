// Opens the input as a ZIP archive and walks it the way package extraction does: the declared
// sizes of every entry first, then each entry's name and bytes.
#include "zip/zip_reader.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

using launcher::ZipEntryStat;
using launcher::ZipReader;
using launcher::ZipSource;

// Bounds the work per input: a few KB of deflate can promise gigabytes.
constexpr std::uint64_t maxEntries = 64;
constexpr std::uint64_t maxEntryBytes = 1 << 20;

class MemorySource final : public ZipSource {
public:
    MemorySource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool size(std::uint64_t& bytes) override {
        bytes = size_;
        return true;
    }

    bool readAt(std::uint64_t offset, void* buffer, std::size_t count) override {
        // The reader promises to stay inside the archive; a read past it is a fault, not input.
        if (offset > size_ || count > size_ - offset) std::abort();
        std::memcpy(buffer, data_ + offset, count);
        return true;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

void extractEntry(ZipReader& reader, std::uint64_t index) {
    std::string name;
    ZipEntryStat stat;
    if (!reader.name(index, name) || !reader.stat(index, stat)) return;
    std::uint64_t written = 0;
    uLong crc = crc32_z(0, nullptr, 0);
    const bool whole = reader.extract(index, [&](std::uint64_t offset, const void* bytes, std::size_t count) {
        // Bytes arrive in order, each chunk right after the last.
        if (offset != written) std::abort();
        if (count > maxEntryBytes - written) return std::size_t{0}; // the reader must stop here
        // zlib is not instrumented: touch both ends here so ASan checks the range handed over.
        const auto* first = static_cast<const volatile std::uint8_t*>(bytes);
        if (count > 0 && (first[0] | first[count - 1]) == 0x100) std::abort();
        crc = crc32_z(crc, static_cast<const Bytef*>(bytes), count);
        written += count;
        return count;
    });
    // A complete extraction has the size and checksum the directory declared.
    if (whole && (written != stat.m_uncomp_size || crc != stat.m_crc32)) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ZipReader reader(std::make_unique<MemorySource>(data, size));
    if (!reader.open()) return 0;
    const std::uint64_t entries = std::min(reader.entryCount(), maxEntries);
    ZipEntryStat stat;
    for (std::uint64_t index = 0; index < entries; ++index)
        if (!reader.stat(index, stat)) return 0;
    for (std::uint64_t index = 0; index < entries; ++index)
        extractEntry(reader, index);
    return 0;
}
