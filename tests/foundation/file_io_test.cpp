#include "foundation/file_io.h"
#include "foundation/unique_handle.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <thread>

namespace launcher {
namespace {

using testing::failureOf;
using testing::listNames;
using testing::readBytes;
using testing::TempDir;
using testing::writeBytes;

TEST(ReadFileLimited, ReadsUpToTheLimitAndRefusesOneByteMore) {
    TempDir dir;
    writeBytes(dir / L"exact.bin", std::string(65536, '\x01'));
    writeBytes(dir / L"over.bin", std::string(65537, '\x01'));
    EXPECT_EQ(readFileLimited(dir / L"exact.bin", 65536), std::string(65536, '\x01'));
    EXPECT_EQ(failureOf([&] { readFileLimited(dir / L"over.bin", 65536); }), "文件过大。");
}

TEST(ReadFileLimited, ReadsBinaryBytesExactly) {
    TempDir dir;
    const std::string bytes("a\r\nb\0\x1A\xFF\n", 8);
    writeBytes(dir / L"data.bin", bytes);
    EXPECT_EQ(readFileLimited(dir / L"data.bin", 100), bytes);
    writeBytes(dir / L"empty.bin", "");
    EXPECT_EQ(readFileLimited(dir / L"empty.bin", 0), "");
}

TEST(ReadFileLimited, MissingFileRaisesThePlatformError) {
    TempDir dir;
    EXPECT_THROW(readFileLimited(dir / L"missing.json", 100), std::filesystem::filesystem_error);
    EXPECT_THROW(readFileLimited(dir.path(), 100), std::filesystem::filesystem_error);
}

TEST(ReadFileLimited, FileThatCannotBeOpenedIsUnreadable) {
    TempDir dir;
    const auto path = dir / L"locked.bin";
    writeBytes(path, "secret");
    UniqueFile exclusive{::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)};
    ASSERT_TRUE(exclusive);
    EXPECT_EQ(failureOf([&] { readFileLimited(path, 100); }), "无法读取文件。");
}

TEST(WriteFileAtomically, CreatesAndReplacesWithExactBytesAndNoLeftovers) {
    TempDir dir;
    const auto target = dir / L"launcher.config.json";
    writeFileAtomically(target, "first");
    EXPECT_EQ(readBytes(target), "first");
    const std::string binary("x\r\ny\n\0z", 7);
    writeFileAtomically(target, binary);
    EXPECT_EQ(readBytes(target), binary);
    writeFileAtomically(target, "");
    EXPECT_EQ(readBytes(target), "");
    EXPECT_EQ(listNames(dir.path()), std::vector<std::wstring>{L"launcher.config.json"});
}

TEST(WriteFileAtomically, ReadOnlyTargetStaysUntouchedAndNoTemporaryFileRemains) {
    if (testing::runningUnderWine())
        GTEST_SKIP()
            << "Wine's MoveFileExW replaces a read-only file, which Windows refuses; the failure path "
               "itself is covered by TargetHeldOpenByAnotherProgramStaysUntouched";
    TempDir dir;
    const auto target = dir / L"credentials.bin";
    writeBytes(target, "old content");
    ASSERT_TRUE(::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(failureOf([&] { writeFileAtomically(target, "new content"); }),
              "无法保存文件，请检查目录权限。");
    EXPECT_EQ(readBytes(target), "old content");
    EXPECT_EQ(listNames(dir.path()), std::vector<std::wstring>{L"credentials.bin"});
}

// The window thread saves the remembered account and may rewrite the configuration: a held file
// fails there at once, even one whose holder would let go a few seconds later, so the window never
// freezes waiting for it.
TEST(WriteFileAtomically, HeldTargetFailsAtOnceAndStaysUntouched) {
    TempDir dir;
    const auto target = dir / L"credentials.bin";
    writeBytes(target, "old");
    UniqueFile holder{
        ::CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)};
    ASSERT_TRUE(holder);
    std::thread release([&] {
        ::Sleep(3000);
        holder.reset();
    });
    EXPECT_EQ(failureOf([&] { writeFileAtomically(target, "new"); }), "无法保存文件，请检查目录权限。");
    release.join();
    EXPECT_EQ(readBytes(target), "old");
    EXPECT_EQ(listNames(dir.path()), std::vector<std::wstring>{L"credentials.bin"});
}

// A scanner lets go of a fresh file within moments: a worker's replace waits for it, up to a limit.
TEST(WriteFileAtomicallyWhenFree, TargetHeldOpenByAScannerIsReplacedOnceReleased) {
    TempDir dir;
    const auto target = dir / L"marker.json";
    writeBytes(target, "old");
    UniqueFile holder{
        ::CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)};
    ASSERT_TRUE(holder);
    std::thread scanner([&] {
        ::Sleep(300);
        holder.reset();
    });
    EXPECT_EQ(failureOf([&] { writeFileAtomicallyWhenFree(target, "new", nullptr); }), "<no error>");
    scanner.join();
    EXPECT_EQ(readBytes(target), "new");
    EXPECT_EQ(listNames(dir.path()), std::vector<std::wstring>{L"marker.json"});
}

TEST(WriteFileAtomically, MissingDirectoryCannotBeWritten) {
    TempDir dir;
    EXPECT_EQ(failureOf([&] { writeFileAtomically(dir / L"missing" / L"file.json", "x"); }),
              "无法写入文件，请检查目录权限和磁盘空间。");
    EXPECT_EQ(listNames(dir.path()), std::vector<std::wstring>{});
}

} // namespace
} // namespace launcher
