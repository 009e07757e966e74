#include "install/package_extraction.h"
#include "support/test_support.h"
#include "support/zip_writer.h"

#include <gtest/gtest.h>

namespace launcher {
namespace {

using nlohmann::json;
using testing::failureOf;
using testing::listNames;
using testing::readBytes;
using testing::TempDir;
using testing::ZipEntrySpec;
namespace fs = std::filesystem;

struct Progress {
    std::wstring status;
    std::uint64_t done;
    std::uint64_t total;
};

// One extraction into a fresh content directory.
class Extraction : public ::testing::Test {
protected:
    TempDir dir;
    fs::path package = dir / L"client.zip.part";
    fs::path content = dir / L"content";
    CancelToken token;
    std::vector<Progress> reports;
    json files;

    void SetUp() override { fs::create_directory(content); }

    std::string extract(const std::vector<ZipEntrySpec>& entries, std::uint64_t maxBytes = 1 << 30,
                        bool zip64 = false) {
        testing::writeZip(package, entries, zip64);
        return failureOf([&] {
            files = extractClientPackage(
                package, content, maxBytes, token,
                [this](const std::wstring& status, std::uint64_t done, std::uint64_t total) {
                    reports.push_back({status, done, total});
                });
        });
    }
};

TEST_F(Extraction, WritesEveryFileAndListsThemInArchiveOrder) {
    const std::string big = testing::patternBytes(700000);
    ASSERT_EQ(extract({{.name = "TalvoPC/"},
                       {.name = "TalvoPC/talvo.exe", .data = "MZ exe"},
                       {.name = "TalvoPC/talvo_Data/level0", .data = big, .deflate = false},
                       {.name = "TalvoPC/empty.txt", .data = ""},
                       {.name = "readme.txt", .data = std::string(100000, 'r')}}),
              "<no error>");
    EXPECT_EQ(readBytes(content / L"TalvoPC" / L"talvo.exe"), "MZ exe");
    EXPECT_EQ(readBytes(content / L"TalvoPC" / L"talvo_Data" / L"level0"), big);
    EXPECT_EQ(readBytes(content / L"TalvoPC" / L"empty.txt"), "");
    EXPECT_EQ(files, json::parse(R"([{"length":6,"path":"TalvoPC\\talvo.exe"},
                                     {"length":700000,"path":"TalvoPC\\talvo_Data\\level0"},
                                     {"length":0,"path":"TalvoPC\\empty.txt"},
                                     {"length":100000,"path":"readme.txt"}])"));

    const std::uint64_t total = 6 + 700000 + 100000;
    ASSERT_GE(reports.size(), 2u);
    EXPECT_EQ(reports.front().status, L"正在解压客户端");
    EXPECT_EQ(reports.front().done, 0u);
    EXPECT_EQ(reports.front().total, total);
    EXPECT_EQ(reports.back().status, L"正在检查客户端");
    EXPECT_EQ(reports.back().done, total);
}

TEST_F(Extraction, GbkNamesWithoutTheUtf8FlagDecodeLikeUtf8Names) {
    ASSERT_EQ(extract({{.name = "\xD3\xCE\xCF\xB7/\xD6\xD0\xCE\xC4.txt", .data = "gbk", .utf8Name = false},
                       {.name = "游戏/英文.txt", .data = "utf8"}}),
              "<no error>");
    EXPECT_EQ(readBytes(content / L"游戏" / L"中文.txt"), "gbk");
    EXPECT_EQ(files[0]["path"], "游戏\\中文.txt");
    EXPECT_EQ(failureOf([&] {
                  testing::writeZip(package, {{.name = "bad\xFF.txt", .data = "x"}});
                  extractClientPackage(package, dir / L"other", 100, token, {});
              }),
              "文本编码无效。");
}

TEST_F(Extraction, ZipSixtyFourRecordsAreRead) {
    ASSERT_EQ(extract({{.name = "a/b.bin", .data = std::string(5000, 'b')}, {.name = "c.txt", .data = "c"}},
                      1 << 30, true),
              "<no error>");
    EXPECT_EQ(readBytes(content / L"a" / L"b.bin"), std::string(5000, 'b'));
    EXPECT_EQ(files.size(), 2u);
}

TEST_F(Extraction, LinksReparsePointsEncryptionAndUnknownMethodsAreRefused) {
    const std::string message = "安装包包含链接、加密文件或不支持的格式。";
    const std::vector<ZipEntrySpec> bad = {
        {.name = "link", .data = "target", .deflate = false, .externalAttributes = 0xA1FF0000},
        {.name = "junction", .data = "x", .externalAttributes = 0x400},
        {.name = "secret.txt", .data = "x", .extraFlags = 0x0001},
        {.name = "patch.bin", .data = "x", .extraFlags = 0x0020},
        {.name = "lzma.bin", .data = "x", .deflate = false, .method = 14},
        {.name = std::string("nul\0byte", 8), .data = "x"},
    };
    for (const ZipEntrySpec& entry : bad) {
        fs::remove_all(content);
        fs::create_directory(content);
        EXPECT_EQ(extract({{.name = "fine.txt", .data = "fine"}, entry}), message) << entry.name;
    }
}

TEST_F(Extraction, PathsThatDifferOnlyInCaseOrSeparatorCollide) {
    EXPECT_EQ(extract({{.name = "Bin/A.dll", .data = "1"}, {.name = "bin\\a.dll", .data = "2"}}),
              "安装包包含重复路径。");
    fs::remove_all(content);
    fs::create_directory(content);
    EXPECT_EQ(extract({{.name = "dir/"}, {.name = "dir", .data = "file"}}), "安装包包含重复路径。");
}

TEST_F(Extraction, UnsafeNamesFailWithThePathRules) {
    EXPECT_EQ(extract({{.name = "../escape.txt", .data = "x"}}), "安装包包含不安全的文件路径。");
    EXPECT_EQ(extract({{.name = "C:/Windows/x.dll", .data = "x"}}), "安装包文件路径无效。");
    EXPECT_EQ(extract({{.name = "aux.dll", .data = "x"}}), "安装包包含保留文件名。");
    EXPECT_EQ(extract({{.name = ".launcher-installed.json", .data = "{}"}}), "安装包包含保留的安装标记。");
    EXPECT_EQ(extract({{.name = std::string(4096, 'n'), .data = "x"}}), "安装包文件名无效。");
    EXPECT_EQ(listNames(content), std::vector<std::wstring>{});
}

TEST_F(Extraction, DataThatDisagreesWithTheDirectoryFails) {
    EXPECT_EQ(extract({{.name = "crc.bin", .data = "payload", .crc = 1234}}),
              "安装包文件损坏或解压不完整，请重新下载。");
    EXPECT_EQ(extract({{.name = "more.bin", .data = std::string(1000, 'm'), .declaredSize = 999}}),
              "解压文件大小异常。");
    EXPECT_EQ(extract({{.name = "less.bin", .data = std::string(1000, 'l'), .declaredSize = 1001}}),
              "安装包文件损坏或解压不完整，请重新下载。");
}

TEST_F(Extraction, DeflatedEntryWithoutDataIsAnEmptyFile) {
    // Some archivers mark empty files as deflated and store no compressed bytes at all.
    ASSERT_EQ(extract({{.name = "empty.log", .data = "", .deflate = false, .method = 8}}), "<no error>");
    EXPECT_EQ(readBytes(content / L"empty.log"), "");
    EXPECT_EQ(files, json::parse(R"([{"length":0,"path":"empty.log"}])"));
    for (const ZipEntrySpec& damaged :
         {ZipEntrySpec{.name = "a", .deflate = false, .method = 8, .crc = 1},
          ZipEntrySpec{.name = "b", .deflate = false, .method = 8, .declaredSize = 1}})
        EXPECT_EQ(extract({damaged}), "安装包文件损坏或解压不完整，请重新下载。") << damaged.name;
}

TEST_F(Extraction, EntriesMustOwnTheirLocalRecords) {
    const std::string stored(1000, 's');
    const struct {
        const char* what;
        std::vector<ZipEntrySpec> entries;
        const char* message;
    } cases[] = {
        {"two entries share one record",
         {{.name = "a.bin", .data = stored, .deflate = false},
          {.name = "b.bin", .data = "b", .headerOffset = 0}},
         "解压内容超过大小限制或 ZIP 无效。"},
        {"a record starts inside another's data",
         {{.name = "a.bin", .data = stored, .deflate = false},
          {.name = "b.bin", .data = "b", .headerOffset = 100}},
         "安装包文件损坏或解压不完整，请重新下载。"},
        {"local name differs",
         {{.name = "a.bin", .data = "a", .localName = "b.bin"}},
         "安装包文件损坏或解压不完整，请重新下载。"},
        {"local name is longer",
         {{.name = "a.bin", .data = "a", .localName = "a.bin.exe"}},
         "安装包文件损坏或解压不完整，请重新下载。"},
    };
    for (const auto& [what, entries, message] : cases) {
        fs::remove_all(content);
        fs::create_directory(content);
        EXPECT_EQ(extract(entries), message) << what;
    }
}

TEST_F(Extraction, DeclaredSizesMayReachTheLimitButNotPassIt) {
    const std::vector<ZipEntrySpec> entries = {{.name = "a.bin", .data = std::string(600, 'a')},
                                               {.name = "b.bin", .data = std::string(400, 'b')}};
    EXPECT_EQ(extract(entries, 999), "解压内容超过大小限制或 ZIP 无效。");
    EXPECT_EQ(listNames(content), std::vector<std::wstring>{}) << "refused before anything is written";
    EXPECT_EQ(extract(entries, 1000), "<no error>");
}

TEST_F(Extraction, EntryCountLimitIsTwoHundredThousand) {
    // Declared sizes over the limit stop the accepted archive in the size pass, before any of its
    // entries is written. More than 65535 entries need the ZIP64 end records.
    std::vector<ZipEntrySpec> entries(200000, ZipEntrySpec{.name = "f", .data = "", .deflate = false});
    for (std::size_t i = 0; i < entries.size(); ++i)
        entries[i].name = "d/" + std::to_string(i);
    entries.back().data = "x";
    EXPECT_EQ(extract(entries, 0, true), "解压内容超过大小限制或 ZIP 无效。");
    entries.push_back({.name = "one-more", .data = ""});
    EXPECT_EQ(extract(entries, 0, true), "安装包文件数量过多。");
    EXPECT_EQ(listNames(content), std::vector<std::wstring>{});
}

TEST_F(Extraction, ArchivesThatCannotBeReadAreRefused) {
    EXPECT_EQ(failureOf([&] { extractClientPackage(dir / L"missing.zip", content, 100, token, {}); }),
              "无法打开客户端安装包。");
    for (const std::string& bytes : {std::string(), std::string(21, 'P'), std::string(5000, '\0'),
                                     testing::buildZip({{.name = "a", .data = "a"}}).substr(0, 60)}) {
        testing::writeBytes(package, bytes);
        EXPECT_EQ(failureOf([&] { extractClientPackage(package, content, 100, token, {}); }),
                  "无法读取 ZIP 安装包。");
    }
}

TEST_F(Extraction, CancellationStopsBeforeTheNextEntryOrChunk) {
    cancel(token);
    EXPECT_EQ(extract({{.name = "a.txt", .data = "a"}}), "操作已取消");
    EXPECT_EQ(listNames(content), std::vector<std::wstring>{});

    CancelToken midway;
    testing::writeZip(package, {{.name = "big.bin", .data = testing::patternBytes(3 << 20)}});
    EXPECT_EQ(failureOf([&] {
                  extractClientPackage(package, content, 1 << 30, midway,
                                       [&](const std::wstring&, std::uint64_t done, std::uint64_t) {
                                           if (done > 0) cancel(midway);
                                       });
              }),
              "操作已取消");
}

} // namespace
} // namespace launcher
