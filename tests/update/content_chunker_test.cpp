#include "net/sha256_hash.h"
#include "update/content_chunker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace launcher {
namespace {

constexpr std::size_t mebibyte = 1 << 20;

// Pseudo-random bytes from splitmix64, written out here so the expected boundaries below depend on
// the chunker alone.
std::string randomBytes(std::size_t size, std::uint64_t seed) {
    std::string bytes(size, '\0');
    std::uint64_t state = seed;
    for (std::size_t i = 0; i < size; i += 8) {
        state += 0x9E3779B97F4A7C15ull;
        std::uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        for (std::size_t k = 0; k < 8 && i + k < size; ++k)
            bytes[i + k] = static_cast<char>(z >> (8 * k));
    }
    return bytes;
}

// The sizes of the chunks the publisher's chunking cuts `file` into, fed `piece` bytes at a time.
std::vector<std::size_t> chunkSizes(std::string_view file, std::size_t piece = SIZE_MAX) {
    ContentChunker chunker(defaultChunking);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(file.data());
    std::vector<std::size_t> sizes;
    std::size_t current = 0;
    for (std::size_t at = 0; at < file.size();) {
        const std::size_t size = std::min(piece, file.size() - at);
        if (const std::optional<std::size_t> end = chunker.findEnd(bytes + at, size)) {
            sizes.push_back(current + *end);
            current = 0;
            at += *end;
        } else {
            current += size;
            at += size;
        }
    }
    if (current > 0) sizes.push_back(current);
    return sizes;
}

struct Chunk {
    std::size_t offset = 0;
    std::size_t size = 0;
    std::string digest;
};

std::vector<Chunk> chunksOf(std::string_view file) {
    std::vector<Chunk> chunks;
    std::size_t offset = 0;
    for (const std::size_t size : chunkSizes(file)) {
        chunks.push_back({offset, size, sha256Hex(file.data() + offset, size)});
        offset += size;
    }
    return chunks;
}

// The chunks of `before` whose content no chunk of `after` has: what a player would download again.
std::vector<Chunk> lostChunks(std::string_view before, std::string_view after) {
    std::set<std::string> kept;
    for (const Chunk& chunk : chunksOf(after))
        kept.insert(chunk.digest);
    std::vector<Chunk> lost;
    for (const Chunk& chunk : chunksOf(before))
        if (!kept.contains(chunk.digest)) lost.push_back(chunk);
    return lost;
}

// Every published store was cut this way: a change of the hash's table or masks moves these
// boundaries, and every chunk of every store would have to be fetched again.
TEST(ContentChunker, CutsAtTheBoundariesEveryPublishedStoreUses) {
    const std::vector<std::size_t> expected = {1552742, 1111062, 1204308, 609469,  1315662, 1189655, 1416686,
                                               1102692, 1696280, 1145757, 1890839, 1479262, 1062802};
    EXPECT_EQ(chunkSizes(randomBytes(16 * mebibyte, 26)), expected);
}

TEST(ContentChunker, CutsTheSameWhateverThePiecesItIsFedIn) {
    const std::string file = randomBytes(16 * mebibyte, 7);
    const std::vector<std::size_t> whole = chunkSizes(file);
    ASSERT_GT(whole.size(), 4u);
    for (const std::size_t piece : {std::size_t{1}, std::size_t{4096}})
        EXPECT_EQ(chunkSizes(file, piece), whole) << "pieces of " << piece;
}

TEST(ContentChunker, EveryChunkButAFilesLastLiesBetweenMinimumAndMaximum) {
    // Zeros never match the hash's mask: only the maximum ends the chunks there.
    const std::string file = randomBytes(8 * mebibyte, 1) + std::string(16 * mebibyte, '\0') +
                             randomBytes(8 * mebibyte + 12345, 2);
    const std::vector<std::size_t> sizes = chunkSizes(file);
    ASSERT_GT(sizes.size(), 2u);
    for (std::size_t i = 0; i + 1 < sizes.size(); ++i) {
        EXPECT_GE(sizes[i], defaultChunking.minimum) << "chunk " << i;
        EXPECT_LE(sizes[i], defaultChunking.maximum) << "chunk " << i;
    }
    EXPECT_LE(sizes.back(), defaultChunking.maximum);
    EXPECT_GE(std::count(sizes.begin(), sizes.end(), defaultChunking.maximum), 3);
    // A file below the minimum is one chunk.
    EXPECT_EQ(chunkSizes(file.substr(0, defaultChunking.minimum - 1)),
              std::vector<std::size_t>{defaultChunking.minimum - 1});
}

TEST(ContentChunker, ChunksOfRandomDataAverageRoughlyTheTarget) {
    const std::vector<std::size_t> sizes = chunkSizes(randomBytes(64 * mebibyte, 3));
    const double mean = 64.0 * mebibyte / static_cast<double>(sizes.size());
    EXPECT_GT(mean, 0.75 * defaultChunking.average);
    EXPECT_LT(mean, 1.5 * defaultChunking.average);
}

// The reason for content-defined chunking: bytes inserted near the start of a large file move
// only the boundaries next to them, so a new version costs what changed, not the whole file.
TEST(ContentChunker, BytesInsertedNearTheStartChangeOnlyAFewChunks) {
    const std::string before = randomBytes(64 * mebibyte, 26);
    std::string after = before;
    after.insert(100000, randomBytes(64 * 1024, 126));
    const std::size_t chunks = chunksOf(before).size();
    ASSERT_GT(chunks, 40u);
    EXPECT_LE(lostChunks(before, after).size(), 3u) << "of " << chunks;
}

TEST(ContentChunker, BytesRewrittenInTheMiddleChangeOnlyTheChunksAroundThem) {
    const std::string before = randomBytes(64 * mebibyte, 1);
    std::string after = before;
    const std::size_t start = 32 * mebibyte;
    after.replace(start, mebibyte, randomBytes(mebibyte, 201));
    const std::vector<Chunk> lost = lostChunks(before, after);
    EXPECT_LE(lost.size(), 4u);
    // The cut falls back in step with the old one within a chunk or two after the rewritten bytes.
    for (const Chunk& chunk : lost) {
        EXPECT_GT(chunk.offset + chunk.size, start) << "chunk at " << chunk.offset;
        EXPECT_LT(chunk.offset, start + mebibyte + defaultChunking.maximum) << "chunk at " << chunk.offset;
    }
}

} // namespace
} // namespace launcher
