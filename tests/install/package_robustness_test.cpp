// Damaged and hostile archives: mutations of valid packages must end in success with every file
// exactly as packed, or in a clean failure; never in a crash, a hang or a stray file.
#include "install/package_extraction.h"
#include "support/test_support.h"
#include "support/zip_writer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <random>

namespace launcher {
namespace {

using testing::ZipEntrySpec;
namespace fs = std::filesystem;

std::vector<ZipEntrySpec> samplePackage() {
    return {{.name = "TalvoPC/"},
            {.name = "TalvoPC/talvo.exe", .data = testing::patternBytes(3000)},
            {.name = "TalvoPC/talvo_Data/level0", .data = std::string(5000, 'L') + "end", .deflate = true},
            {.name = "TalvoPC/UnityPlayer.dll", .data = "stored bytes", .deflate = false},
            {.name = "TalvoPC/empty", .data = ""},
            {.name = "\xD6\xD0\xCE\xC4.txt", .data = "gbk name", .utf8Name = false}};
}

std::string mutate(std::string bytes, std::mt19937& random) {
    auto pick = [&](std::size_t limit) {
        return std::uniform_int_distribution<std::size_t>(0, limit - 1)(random);
    };
    switch (pick(4)) {
    case 0: // flip a few bits anywhere
        for (std::size_t n = 1 + pick(8); n > 0; --n)
            bytes[pick(bytes.size())] ^= static_cast<char>(1 << pick(8));
        break;
    case 1: // cut the file short
        bytes.resize(pick(bytes.size()));
        break;
    case 2: { // overwrite a header field in the directory or the end records with an extreme value
        const std::size_t at = bytes.size() - 1 - pick(std::min<std::size_t>(bytes.size(), 600));
        static const char* values[] = {"\x00\x00\x00\x00", "\xFF\xFF\xFF\xFF", "\xFF\xFF\xFF\x7F",
                                       "\x01\x00\x00\x00", "\x00\x00\x01\x00"};
        const char* value = values[pick(5)];
        for (std::size_t i = 0; i < 4 && at + i < bytes.size(); ++i)
            bytes[at + i] = value[i];
        break;
    }
    default: // the same near the front, where the local headers are
        for (std::size_t n = 1 + pick(4); n > 0; --n)
            bytes[pick(std::min<std::size_t>(bytes.size(), 120))] = static_cast<char>(pick(256));
        break;
    }
    return bytes;
}

TEST(PackageRobustness, MutatedPackagesSucceedExactlyOrFailCleanly) {
    testing::TempDir dir;
    std::map<std::string, std::string> expected; // marker path -> bytes
    for (const ZipEntrySpec& entry : samplePackage()) {
        if (entry.name.back() == '/') continue;
        std::string path = entry.utf8Name ? entry.name : "中文.txt";
        std::replace(path.begin(), path.end(), '/', '\\');
        expected[path] = entry.data;
    }
    const std::string originals[] = {testing::buildZip(samplePackage()),
                                     testing::buildZip(samplePackage(), true)};

    std::mt19937 random(20261208);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    int cases = 0, successes = 0;
    for (; cases < 4000 && std::chrono::steady_clock::now() < deadline; ++cases) {
        const std::string bytes = mutate(originals[cases % 2], random);
        const fs::path package = dir / L"case.zip";
        const fs::path content = dir / (L"content" + std::to_wstring(cases));
        testing::writeBytes(package, bytes);
        fs::create_directory(content);
        CancelToken token;
        try {
            const nlohmann::json files = extractClientPackage(package, content, 1 << 20, token, {});
            ++successes;
            for (const auto& file : files) {
                const std::string path = file.at("path").get<std::string>();
                ASSERT_TRUE(expected.contains(path)) << "case " << cases << " wrote " << path;
                ASSERT_EQ(testing::readBytes(content / testing::wide(path)), expected[path])
                    << "case " << cases;
                ASSERT_EQ(file.at("length").get<std::size_t>(), expected[path].size());
            }
        } catch (const Error&) {
        } catch (const fs::filesystem_error&) {
            // A damaged name can make a directory collide with a file already written.
        }
        fs::remove_all(content);
    }
    std::printf("%d mutated packages, %d extracted intact, the rest refused\n", cases, successes);
    EXPECT_GE(cases, 500);
}

} // namespace
} // namespace launcher
