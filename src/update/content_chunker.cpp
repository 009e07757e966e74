#include "update/content_chunker.h"

#include <array>
#include <bit>

namespace launcher {
namespace {

// One pseudo-random 64-bit number per byte value, fixed forever: publisher and launcher must cut
// the same bytes at the same places.
constexpr std::array<std::uint64_t, 256> makeGearTable() {
    std::array<std::uint64_t, 256> table{};
    std::uint64_t state = 0x9E3779B97F4A7C15ull ^ 0x67617465686F7573ull; // splitmix64, fixed seed
    for (std::uint64_t& entry : table) {
        state += 0x9E3779B97F4A7C15ull;
        std::uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        entry = z ^ (z >> 31);
    }
    return table;
}

constexpr std::array<std::uint64_t, 256> gear = makeGearTable();

// The gear hash shifts one bit per byte, so after 64 bytes it depends on those alone: hashing may
// start this far before the first place a boundary is allowed.
constexpr std::uint64_t hashWindow = 64;

// A mask of `bits` ones at the top of the hash: the top bits mix the most recent bytes best.
constexpr std::uint64_t topBits(unsigned bits) {
    return bits == 0 ? 0 : ~std::uint64_t{0} << (64 - bits);
}

} // namespace

bool isValidChunking(const ChunkingParameters& parameters) {
    return parameters.minimum >= hashWindow && parameters.minimum < parameters.average &&
           parameters.average < parameters.maximum && parameters.maximum <= maxChunkBytes &&
           std::has_single_bit(parameters.average);
}

// Normalised chunking: a stricter mask before the average size and a looser one after it keep
// most chunks near the average.
ContentChunker::ContentChunker(const ChunkingParameters& parameters) : parameters_(parameters) {
    const unsigned bits = static_cast<unsigned>(std::countr_zero(parameters.average));
    smallMask_ = topBits(bits + 2);
    largeMask_ = topBits(bits > 2 ? bits - 2 : 1);
}

std::optional<std::size_t> ContentChunker::findEnd(const std::uint8_t* bytes, std::size_t size) {
    std::size_t position = 0;
    // Nothing before the minimum can end the chunk, and only the last 64 bytes before it count.
    const std::uint64_t hashFrom = parameters_.minimum - hashWindow;
    if (length_ < hashFrom) {
        const std::uint64_t skip = std::min<std::uint64_t>(hashFrom - length_, size);
        position += static_cast<std::size_t>(skip);
        length_ += skip;
    }
    for (; position < size; ++position) {
        hash_ = (hash_ << 1) + gear[bytes[position]];
        ++length_;
        if (length_ < parameters_.minimum) continue;
        const std::uint64_t mask = length_ < parameters_.average ? smallMask_ : largeMask_;
        if ((hash_ & mask) == 0 || length_ >= parameters_.maximum) {
            hash_ = 0;
            length_ = 0;
            return position + 1;
        }
    }
    return std::nullopt;
}

} // namespace launcher
