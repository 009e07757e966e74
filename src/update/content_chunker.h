#pragma once

// Content-defined chunking: a rolling hash over the last 64 bytes picks chunk boundaries, so bytes
// inserted near the start of a large file move only the boundaries next to them, and the chunks
// after them keep their content and their digests. The publisher cuts a client's files with it,
// and the launcher cuts the installed files the same way to find which chunks it already has.
#include <cstddef>
#include <cstdint>
#include <optional>

namespace launcher {

struct ChunkingParameters {
    std::uint32_t minimum = 0; // no boundary before this many bytes (the last chunk of a file may be shorter)
    std::uint32_t average = 0; // a power of two: the size boundaries aim at
    std::uint32_t maximum = 0; // a chunk that reaches this size ends there

    friend bool operator==(const ChunkingParameters&, const ChunkingParameters&) = default;
};

// What the publisher uses: about a mebibyte on average, between 256 KiB and 4 MiB.
inline constexpr ChunkingParameters defaultChunking{262144, 1048576, 4194304};

// The largest chunk any index may declare: what one chunk may cost in memory and on the wire.
inline constexpr std::uint32_t maxChunkBytes = 16u << 20;

// Whether a set of parameters can be used: 64 <= minimum < average < maximum <= maxChunkBytes,
// with the average a power of two.
bool isValidChunking(const ChunkingParameters& parameters);

// Finds the boundaries of one file, fed in order in pieces of any size.
class ContentChunker {
public:
    // `parameters` must be valid (isValidChunking).
    explicit ContentChunker(const ChunkingParameters& parameters);

    // Looks for the end of the current chunk in the next `size` bytes of the file. Returns how many
    // of them complete it (the next chunk then starts with the byte after), or nothing when all of
    // them belong to it. The end of the file ends its last chunk, whatever its size.
    std::optional<std::size_t> findEnd(const std::uint8_t* bytes, std::size_t size);

private:
    ChunkingParameters parameters_;
    std::uint64_t smallMask_; // before the average size: harder to cut
    std::uint64_t largeMask_; // after it: easier
    std::uint64_t hash_ = 0;
    std::uint64_t length_ = 0; // bytes of the current chunk seen so far
};

} // namespace launcher
