#include "filesystem/directory_links.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>

namespace launcher {
namespace {

using testing::failureOf;
using testing::TempDir;
using testing::writeBytes;
namespace fs = std::filesystem;

// The tree made by make_link_fixture: outside/ holds files that must survive, and links point
// at it from parent/staging/sub/link, parent/linked and linked-parent.
class LinkFixture : public ::testing::Test {
protected:
    void SetUp() override {
        const char* location = std::getenv("LAUNCHER_TEST_LINK_FIXTURE");
        if (location == nullptr) GTEST_SKIP() << "LAUNCHER_TEST_LINK_FIXTURE is not set: run through CTest";
        root_ = fs::path(location).lexically_normal();
        ASSERT_TRUE(fs::exists(root_ / L"outside" / L"keep.txt")) << "fixture missing at " << root_.string();
        const DWORD attributes = ::GetFileAttributesW((root_ / L"linked-parent").c_str());
        ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
        ASSERT_TRUE(attributes & FILE_ATTRIBUTE_REPARSE_POINT)
            << "the fixture's link is not a reparse point here";
    }

    void expectOutsideIntact() {
        EXPECT_TRUE(fs::exists(root_ / L"outside" / L"keep.txt"));
        EXPECT_TRUE(fs::exists(root_ / L"outside" / L"deep" / L"keep.txt"));
    }

    fs::path root_;
};

// Wine cannot make a cloud placeholder or any reparse point with a tag, so the decision by tag is
// shown on the attributes and tags Windows reports.
TEST(DirectoryLinks, OnlyNameSurrogatesAndUnknownTagsAreLinks) {
    constexpr DWORD directory = FILE_ATTRIBUTE_DIRECTORY;
    constexpr DWORD reparse = FILE_ATTRIBUTE_REPARSE_POINT;
    const struct {
        const char* entry;
        DWORD attributes;
        DWORD tag;
        bool link;
    } cases[] = {
        {"plain directory", directory, 0, false},
        {"plain file", FILE_ATTRIBUTE_ARCHIVE, 0, false},
        {"OneDrive folder", directory | reparse, IO_REPARSE_TAG_CLOUD, false},
        {"online-only placeholder", FILE_ATTRIBUTE_ARCHIVE | reparse, IO_REPARSE_TAG_CLOUD_6, false},
        {"deduplicated file", FILE_ATTRIBUTE_ARCHIVE | reparse, IO_REPARSE_TAG_DEDUP, false},
        {"compressed system file", FILE_ATTRIBUTE_ARCHIVE | reparse, IO_REPARSE_TAG_WOF, false},
        {"app execution alias", FILE_ATTRIBUTE_ARCHIVE | reparse, IO_REPARSE_TAG_APPEXECLINK, false},
        {"junction", directory | reparse, IO_REPARSE_TAG_MOUNT_POINT, true},
        {"symbolic link", directory | reparse, IO_REPARSE_TAG_SYMLINK, true},
        {"unknown surrogate", directory | reparse, 0xA0001234, true},
        {"unreadable tag", directory | reparse, 0, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isLinkEntry(c.attributes, c.tag), c.link) << c.entry;
}

TEST(RejectDirectoryLinks, PlainPathsPassWhetherTheyExistOrNot) {
    TempDir dir;
    EXPECT_NO_THROW(rejectDirectoryLinks(dir.path()));
    EXPECT_NO_THROW(rejectDirectoryLinks(dir / L"not" / L"yet" / L"there"));
    // The walk up ends at the share or volume root.
    EXPECT_NO_THROW(rejectDirectoryLinks(L"\\\\cafe\\games\\GameClient"));
    EXPECT_NO_THROW(rejectDirectoryLinks(L"\\\\?\\C:\\gatehouse-not-there\\GameClient"));
}

TEST_F(LinkFixture, RejectDirectoryLinksRefusesALinkOrAnythingBelowOne) {
    const std::string message = "安装路径不能包含目录链接。";
    EXPECT_EQ(failureOf([&] { rejectDirectoryLinks(root_ / L"linked-parent"); }), message);
    EXPECT_EQ(failureOf([&] { rejectDirectoryLinks(root_ / L"linked-parent" / L"keep.txt"); }), message);
    EXPECT_EQ(failureOf([&] { rejectDirectoryLinks(root_ / L"linked-parent" / L"GameClient" / L"x"); }),
              message);
    EXPECT_NO_THROW(rejectDirectoryLinks(root_ / L"outside" / L"keep.txt"));
}

TEST_F(LinkFixture, RemoveTreeSafelyDeletesNothingInATreeHoldingALink) {
    removeTreeSafely(root_ / L"parent" / L"staging", root_ / L"parent");
    EXPECT_TRUE(fs::exists(root_ / L"parent" / L"staging" / L"a.txt"));
    EXPECT_TRUE(fs::exists(root_ / L"parent" / L"staging" / L"sub" / L"b.txt"));
    expectOutsideIntact();
}

TEST_F(LinkFixture, RemoveTreeSafelyNeverRemovesThroughALink) {
    removeTreeSafely(root_ / L"parent" / L"linked", root_ / L"parent");
    removeTreeSafely(root_ / L"linked-parent" / L"deep", root_ / L"linked-parent");
    expectOutsideIntact();
    EXPECT_NE(::GetFileAttributesW((root_ / L"parent" / L"linked").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(RemoveTreeSafely, RemovesAWholeTreeDirectlyInTheExpectedParent) {
    TempDir dir;
    const fs::path staging = dir / L"GameClient.staging-1";
    fs::create_directories(staging / L"TalvoPC" / L"TalvoPC_Data" / L"Managed");
    writeBytes(staging / L"TalvoPC" / L"talvo.exe", "MZ");
    writeBytes(staging / L"TalvoPC" / L"TalvoPC_Data" / L"Managed" / L"a.dll", "x");
    const fs::path readOnly = staging / L"TalvoPC" / L"readonly.txt";
    writeBytes(readOnly, "r");
    ASSERT_TRUE(::SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    writeBytes(dir / L"keep.txt", "k");

    // The parent's case does not matter; a trailing separator neither.
    std::wstring parent = dir.path().native() + L"\\";
    ::CharUpperBuffW(parent.data(), static_cast<DWORD>(parent.size()));
    removeTreeSafely(staging, parent);
    EXPECT_FALSE(fs::exists(staging));
    EXPECT_EQ(testing::listNames(dir.path()), std::vector<std::wstring>{L"keep.txt"});
}

TEST(RemoveTreeSafely, LeavesTreesThatAreNotDirectlyInTheExpectedParent) {
    TempDir dir;
    const fs::path nested = dir / L"a" / L"b";
    fs::create_directories(nested);
    writeBytes(nested / L"file.txt", "x");
    removeTreeSafely(nested, dir.path());     // a grandchild
    removeTreeSafely(dir / L"a", dir / L"a"); // the parent itself
    removeTreeSafely(dir / L"a" / L"..", dir.path());
    removeTreeSafely(dir / L"missing", dir.path());
    EXPECT_TRUE(fs::exists(nested / L"file.txt"));
}

// Gigabytes of leftovers take a while: a removal asked to stop between entries leaves the rest,
// so cancel and close stay prompt.
TEST(RemoveTreeSafely, StopsBetweenEntriesWhenAskedAndLeavesTheRest) {
    TempDir dir;
    const fs::path leftover = dir / L"GameClient.previous-1";
    for (int folder = 0; folder < 4; ++folder) {
        fs::create_directories(leftover / std::to_wstring(folder));
        for (int file = 0; file < 10; ++file)
            writeBytes(leftover / std::to_wstring(folder) / (std::to_wstring(file) + L".assets"), "x");
    }
    // The check for links asks once for each of the 44 entries; removal stops 16 entries later.
    int asked = 0;
    removeTreeSafely(leftover, dir.path(), [&] { return ++asked > 60; });
    std::size_t left = 0;
    for (const auto& entry : fs::recursive_directory_iterator(leftover))
        left += entry.is_regular_file() ? 1 : 0;
    EXPECT_GT(left, 0u);
    EXPECT_LT(left, 40u);
}

} // namespace
} // namespace launcher
