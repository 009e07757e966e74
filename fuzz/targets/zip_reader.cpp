// Opens the input as a ZIP archive and walks it the way package extraction does: the declared
// sizes of every entry first, then each entry's name and bytes.
#include "install/zip_reader.h"

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
    volatile std::uint8_t sink = 0;
    const bool whole = reader.extract(index, [&](std::uint64_t offset, const void* bytes, std::size_t count) {
        // Bytes arrive in order, each chunk right after the last.
        if (offset != written) std::abort();
        if (count > maxEntryBytes - written) return std::size_t{0}; // the reader must stop here
        if (count > 0) { // touch both ends so ASan checks the range it was given
            const auto* first = static_cast<const std::uint8_t*>(bytes);
            sink = first[0];
            sink = first[count - 1];
        }
        written += count;
        return count;
    });
    // A complete extraction has the size the directory declared.
    if (whole && written != stat.m_uncomp_size) std::abort();
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
