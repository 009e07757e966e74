#include "foundation/unique_handle.h"
#include "net/file_digest.h"
#include "net/sha256_hash.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace launcher {
namespace {

using testing::failureOf;
using testing::TempDir;

// Launcher builds and packages of any size are digested in pieces; the digest is that of the whole.
TEST(FileDigest, FileOfSeveralPiecesHasTheDigestOfItsWholeContent) {
    TempDir dir;
    for (const std::size_t size : {std::size_t{0}, std::size_t{3} << 20, (std::size_t{3} << 20) + 17}) {
        const std::string bytes = testing::patternBytes(size);
        const auto path = dir / L"build.exe";
        testing::writeBytes(path, bytes);
        EXPECT_EQ(sha256OfFile(path), sha256Hex(bytes.data(), bytes.size())) << size;
        // Through a handle that has already been read: the digest starts at the file's start.
        const UniqueFile file{
            ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)};
        char first[16];
        DWORD read = 0;
        ASSERT_TRUE(::ReadFile(file.get(), first, sizeof first, &read, nullptr));
        EXPECT_EQ(sha256OfFile(file.get()), sha256Hex(bytes.data(), bytes.size())) << size;
    }
}

TEST(FileDigest, MissingFileOrCancelledTokenEndsWithoutADigest) {
    TempDir dir;
    EXPECT_EQ(failureOf([&] { sha256OfFile(dir / L"missing.zip"); }), "无法读取文件。");
    testing::writeBytes(dir / L"package.zip", testing::patternBytes(1 << 20));
    CancelToken token;
    cancel(token);
    EXPECT_EQ(failureOf([&] { sha256OfFile(dir / L"package.zip", &token); }), "操作已取消");
}

} // namespace
} // namespace launcher
