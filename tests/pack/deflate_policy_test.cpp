#include "pack/deflate_policy.h"

#include <gtest/gtest.h>

namespace launcher {
namespace {

// What the operator sees in the archive's listing: which files are stored and which deflated.
TEST(DeflatePolicy, FileIsDeflatedOnlyWhenThatMakesItSmaller) {
    struct Case {
        std::uint64_t size, deflatedSize;
        bool deflated;
    };
    const Case cases[] = {
        {0, 2, false},      // an empty file: raw deflate still writes two bytes
        {7, 9, false},      // a tiny file grows
        {81000, 188, true}, // repetitive text
        {1000, 1000, false},
        {1000, 999, true},
        {std::uint64_t{5} << 30, (std::uint64_t{5} << 30) + 163840, false}, // noise grows a little
    };
    for (const Case& file : cases)
        EXPECT_EQ(deflatePays(file.size, file.deflatedSize), file.deflated)
            << file.size << " -> " << file.deflatedSize;
}

// A large file whose samples do not shrink is stored without deflating the rest: an asset bundle
// that is already compressed costs one read, not a deflate of the whole file.
TEST(DeflatePolicy, LargeFileIsDeflatedWholeOnlyWhenItsSamplesShrinkByASixtyFourth) {
    const std::uint64_t samples = 3 * deflateSampleBytes;
    struct Case {
        std::uint64_t deflatedSamples;
        bool deflateWhole;
    };
    const Case cases[] = {
        {0, true},
        {samples / 2, true},
        {samples - samples / 64 - 1, true},
        {samples - samples / 64, false},
        {samples, false},
        {samples + 240, false},
    };
    for (const Case& sample : cases)
        EXPECT_EQ(samplesShrink(samples, sample.deflatedSamples), sample.deflateWhole)
            << sample.deflatedSamples;

    // The samples lie at the start, the middle and the end, whatever the file's size.
    const std::uint64_t size = (std::uint64_t{6} << 30) + 12345;
    const auto offsets = deflateSampleOffsets(size);
    EXPECT_EQ(offsets[0], 0u);
    EXPECT_EQ(offsets[1] + deflateSampleBytes / 2, size / 2);
    EXPECT_EQ(offsets[2] + deflateSampleBytes, size);
    EXPECT_EQ(deflateSampleOffsets(inMemoryLimit + 1)[2] + deflateSampleBytes, inMemoryLimit + 1);
}

} // namespace
} // namespace launcher
