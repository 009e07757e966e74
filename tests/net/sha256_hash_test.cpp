#include "net/sha256_hash.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace launcher {
namespace {

TEST(Sha256Hash, GivesTheStandardDigestsInUpperCase) {
    EXPECT_EQ(sha256Hex("abc", 3), "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD");
    EXPECT_EQ(sha256Hex("", 0), "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855");
    const std::string message = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ(sha256Hex(message.data(), message.size()),
              "248D6A61D20638B8E5C026930C3E6039A33CE45964FF2167F6ECEDD419DB06C1");
}

TEST(Sha256Hash, SplitFeedingEqualsOnePiece) {
    const std::string data = testing::patternBytes(1 << 20);
    const std::string whole = sha256Hex(data.data(), data.size());
    Sha256Hash pieces;
    std::size_t offset = 0;
    for (std::size_t step : {0u, 1u, 63u, 64u, 65u, 131072u, 7u}) {
        pieces.update(data.data() + offset, step);
        offset += step;
    }
    pieces.update(data.data() + offset, data.size() - offset);
    EXPECT_EQ(pieces.finishHex(), whole);

    Sha256Hash moved = Sha256Hash();
    moved.update("abc", 3);
    Sha256Hash target = std::move(moved);
    EXPECT_EQ(target.finishHex(), sha256Hex("abc", 3));
}

} // namespace
} // namespace launcher
