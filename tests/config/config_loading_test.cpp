#include "config/deployment.h"
#include "config/launcher_config.h"
#include "foundation/resources.h"
#include "foundation/unique_handle.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace launcher {
namespace {

using nlohmann::json;
using testing::failureOf;
using testing::listNames;
using testing::readBytes;
using testing::TempDir;
using testing::writeBytes;

json builtIn() {
    return json::parse(loadResourceBytes(builtinConfigResourceId));
}

TEST(ConfigLoading, WithoutAFileTheBuiltInDocumentIsUsedAndNothingIsWritten) {
    TempDir dir;
    const LauncherConfig config = loadLauncherConfig(dir.path());
    EXPECT_EQ(config.document, builtIn());
    EXPECT_EQ(config.baseDirectory, dir.path());
    EXPECT_EQ(listNames(dir.path()), std::vector<std::wstring>{});
}

TEST(ConfigLoading, EmptyObjectIsCompletedAndRewrittenOnceInKeyOrder) {
    TempDir dir;
    const auto file = dir / configFileName;
    writeBytes(file, "{}");
    const LauncherConfig config = loadLauncherConfig(dir.path());
    EXPECT_EQ(config.document, builtIn());

    const std::string written = readBytes(file);
    EXPECT_EQ(written, serializeConfigDocument(builtIn()));
    EXPECT_TRUE(written.starts_with("{\n  \"apiDomain\": ")) << written;
    EXPECT_NE(written.find("\n  \"clientPackage\": {\n    \"downloadUrl\": "), std::string::npos) << written;
    EXPECT_NE(written.find("\"gameTitle\": \"曜石纪元\""), std::string::npos) << "raw UTF-8, not \\u escapes";
    EXPECT_TRUE(written.ends_with("\n}")) << "no line break after the closing brace";
    EXPECT_EQ(listNames(dir.path()), std::vector<std::wstring>{configFileName});

    // A complete, current file is never rewritten.
    const auto before = std::filesystem::last_write_time(file);
    ::Sleep(20);
    loadLauncherConfig(dir.path());
    EXPECT_EQ(std::filesystem::last_write_time(file), before);
    EXPECT_EQ(readBytes(file), written);
}

TEST(ConfigLoading, FileValuesOverrideTheBuiltInOnes) {
    TempDir dir;
    json document = builtIn();
    document["clientPackage"]["installDirectory"] = "D:\\Talvo";
    document["gameArguments"] = {"-windowed"};
    const std::string text = serializeConfigDocument(document);
    writeBytes(dir / configFileName, "\xEF\xBB\xBF" + text); // a byte-order mark is accepted
    const LauncherConfig config = loadLauncherConfig(dir.path());
    EXPECT_EQ(config.document, document);
    EXPECT_EQ(readBytes(dir / configFileName), "\xEF\xBB\xBF" + text) << "nothing changed, nothing written";
}

TEST(ConfigLoading, OutdatedLoginAddressIsUpgradedOnDisk) {
    TempDir dir;
    json document = builtIn();
    document["loginProxyUrl"] = "";
    document["loginRequestMethod"] = "POST";
    writeBytes(dir / configFileName, document.dump());
    const LauncherConfig config = loadLauncherConfig(dir.path());
    EXPECT_EQ(config.document, builtIn());
    EXPECT_EQ(json::parse(readBytes(dir / configFileName)), builtIn());
}

TEST(ConfigLoading, SizeLimitIsSixtyFourKibibytes) {
    TempDir dir;
    const std::string current = builtIn().dump();
    writeBytes(dir / configFileName, current + std::string(65536 - current.size(), ' '));
    EXPECT_EQ(loadLauncherConfig(dir.path()).document, builtIn());
    writeBytes(dir / configFileName, current + std::string(65537 - current.size(), ' '));
    EXPECT_EQ(failureOf([&] { loadLauncherConfig(dir.path()); }), "文件过大。");
}

TEST(ConfigLoading, DocumentThatIsNotAnObjectIsRefused) {
    TempDir dir;
    for (const char* text : {"[]", "\"text\"", "42", "null"}) {
        writeBytes(dir / configFileName, text);
        EXPECT_EQ(failureOf([&] { loadLauncherConfig(dir.path()); }), "启动器配置文件无效。") << text;
    }
}

TEST(ConfigLoading, MalformedJsonRaisesTheParserError) {
    TempDir dir;
    for (const char* text : {"", "{", "{\"a\": 1,}", "{/* note */}", "{} {}"}) {
        writeBytes(dir / configFileName, text);
        EXPECT_THROW(loadLauncherConfig(dir.path()), json::parse_error) << text;
    }
}

TEST(ConfigLoading, FailedRewriteStopsLoadingAndKeepsTheFile) {
    TempDir dir;
    const auto file = dir / configFileName;
    writeBytes(file, "{}");
    // Another program holding the file open stands in for a directory the launcher may not write.
    UniqueFile holder{
        ::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)};
    ASSERT_TRUE(holder);
    EXPECT_EQ(failureOf([&] { loadLauncherConfig(dir.path()); }), "无法保存文件，请检查目录权限。");
    holder.reset();
    EXPECT_EQ(readBytes(file), "{}");
    EXPECT_EQ(listNames(dir.path()), std::vector<std::wstring>{configFileName});
}

TEST(ConfigAccessors, InstallDirectoryIsAbsoluteNormalisedAndWithoutTrailingSeparator) {
    LauncherConfig config{builtIn(), L"C:\\Games\\Launcher"};
    EXPECT_EQ(installDirectory(config), L"C:\\Games\\Launcher\\GameClient");
    const std::pair<const char*, const wchar_t*> cases[] = {
        {"GameClient\\", L"C:\\Games\\Launcher\\GameClient"},
        {"GameClient/", L"C:\\Games\\Launcher\\GameClient"},
        {"./Client/../GameClient//", L"C:\\Games\\Launcher\\GameClient"},
        {"D:\\Talvo\\", L"D:\\Talvo"},
        {"D:/Talvo/Client", L"D:\\Talvo\\Client"},
        {"D:\\", L"D:\\"},
        {"..", L"C:\\Games"},
    };
    for (const auto& [written, expected] : cases) {
        config.document["clientPackage"]["installDirectory"] = written;
        EXPECT_EQ(installDirectory(config).native(), expected) << written;
    }
}

TEST(ConfigAccessors, LoginAddressIsTheConfiguredOneInUtf16) {
    LauncherConfig config{builtIn(), L"C:\\Games\\Launcher"};
    config.document["loginProxyUrl"] = "https://登录.example.com/api";
    EXPECT_EQ(loginProxyUrl(config), L"https://登录.example.com/api");
    config.document.erase("loginProxyUrl");
    EXPECT_THROW(loginProxyUrl(config), json::out_of_range);
}

} // namespace
} // namespace launcher
