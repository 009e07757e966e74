#include "config/deployment.h"
#include "config/launcher_config.h"
#include "foundation/resources.h"
#include "install/client_install.h"
#include "install/installed_marker.h"
#include "install/package_extraction.h"
#include "net/sha256_hash.h"
#include "pack/archive_writer.h"
#include "pack/pack_command.h"
#include "pack/refused_entry.h"
#include "pack/tool_config.h"
#include "pack/update_publish.h"
#include "support/loopback_http_server.h"
#include "support/test_support.h"
#include "support/zip_writer.h"
#include "update/signed_manifest.h"
#include "update/update_manifest.h"
#include "update/update_signature.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

namespace launcher {
namespace {

using nlohmann::json;
using testing::TempDir;
using testing::ZipEntrySpec;
namespace fs = std::filesystem;

const std::string executable = "TalvoPC/talvo-曜石纪元.exe";

// What a refused call reported: the sentence and the entry, or "<no error>".
std::string refusalOf(const std::function<void()>& call) {
    try {
        call();
        return "<no error>";
    } catch (const RefusedEntry& refusal) {
        return std::string(refusal.what()) + " | " + refusal.entry;
    } catch (const Error& error) {
        return error.what();
    }
}

// The tree made by make_pack_fixture.sh on the host, for names and links Windows programs cannot make.
fs::path hostFixture() {
    const char* location = std::getenv("LAUNCHER_TEST_PACK_FIXTURE");
    return location == nullptr ? fs::path() : fs::path(location);
}

// A Unity client folder as a build leaves it: files above and below the in-memory size, one that
// deflates and one that does not, an empty file and an empty directory.
void makeClient(const fs::path& folder) {
    const fs::path game = folder / L"TalvoPC";
    const fs::path data = game / L"talvo-曜石纪元_Data";
    fs::create_directories(data / L"Plugins" / L"x86_64");
    fs::create_directories(data / L"空目录");
    testing::writeBytes(game / L"talvo-曜石纪元.exe", "MZ game");
    testing::writeBytes(game / L"UnityPlayer.dll", "MZ player " + std::string(70000, 'p'));
    testing::writeBytes(data / L"level0", "");
    testing::writeBytes(data / L"sharedassets0.assets", testing::patternBytes(5 << 20));
    std::string text;
    for (int line = 0; text.size() < (6 << 20); ++line)
        text += "{\"item\": " + std::to_string(line % 977) + ", \"name\": \"资源\"}\n";
    testing::writeBytes(data / L"resources.json", text);
}

// A launcher directory whose configuration installs into GameClient from the loopback server.
class Publishing : public ::testing::Test {
protected:
    TempDir dir;
    fs::path client = dir / L"client";
    fs::path launcherDir = dir / L"Launcher";
    fs::path configFile = launcherDir / configFileName;
    fs::path package = dir / L"TalvoPC.zip";

    void SetUp() override {
        makeClient(client);
        fs::create_directory(launcherDir);
        writeConfig([](json&) {});
    }

    void writeConfig(const std::function<void(json&)>& change) {
        json document = json::parse(loadResourceBytes(builtinConfigResourceId));
        change(document);
        testing::writeBytes(configFile, serializeConfigDocument(document));
    }

    PackRequest request(unsigned threads = 2) {
        return PackRequest{.clientFolder = client,
                           .output = package,
                           .executablePath = executable,
                           .version = "2026.12.1",
                           .configFile = configFile,
                           .downloadUrl = "http://" + std::string(packageHostUtf8) +
                                          "/K3ClientRes/exe/TalvoPC/p/TalvoPC.zip",
                           .threads = threads};
    }

    PackageSummary pack(const PackRequest& what) {
        CancelToken token;
        return packClient(what, fs::path(), token, {});
    }
};

TEST_F(Publishing, PackedClientPassesTheCheckInstallsAndIsReady) {
    const PackageSummary packed = pack(request());
    const std::string bytes = testing::readBytes(package);
    EXPECT_EQ(packed.sha256, sha256Hex(bytes.data(), bytes.size()));
    EXPECT_EQ(packed.bytes, bytes.size());
    EXPECT_EQ(packed.entries, 10u); // 5 files, 5 directories
    EXPECT_EQ(testing::listNames(dir.path()),
              (std::vector<std::wstring>{L"Launcher", L"TalvoPC.zip", L"client"}));

    const json published = json::parse(testing::readBytes(configFile))["clientPackage"];
    EXPECT_EQ(published["sha256"], packed.sha256);
    EXPECT_EQ(published["version"], "2026.12.1");
    EXPECT_EQ(published["executablePath"], executable);
    EXPECT_EQ(published["downloadUrl"], *request().downloadUrl);

    CancelToken token;
    const ToolConfig config = loadToolConfig(configFile, fs::path());
    EXPECT_EQ(checkClientPackage(package, config.effective, executable, true, std::nullopt, token, {}).sha256,
              packed.sha256);

    testing::LoopbackHttpServer server{
        packagePort, [&](testing::Exchange& exchange) { exchange.send(testing::httpResponse(200, bytes)); }};
    const LauncherConfig launcher = loadLauncherConfig(launcherDir);
    installClient(launcher, token, {});
    EXPECT_TRUE(isInstalledClientReady(launcher, token));
    const fs::path data = launcherDir / L"GameClient" / L"TalvoPC" / L"talvo-曜石纪元_Data";
    EXPECT_EQ(testing::readBytes(data / L"resources.json"),
              testing::readBytes(client / L"TalvoPC" / L"talvo-曜石纪元_Data" / L"resources.json"));
    EXPECT_TRUE(fs::is_directory(data / L"空目录"));
}

TEST_F(Publishing, SameFolderGivesTheSameBytesWhateverTheThreadCount) {
    pack(request(1));
    const std::string first = testing::readBytes(package);
    pack(request(3));
    EXPECT_EQ(testing::readBytes(package), first);
}

TEST_F(Publishing, FolderTheLauncherWouldRefuseIsRefusedBeforeAnythingIsWritten) {
    const fs::path fixture = hostFixture();
    if (fixture.empty()) GTEST_SKIP() << "needs the host fixture of CTest";
    struct Case {
        const char* what;
        std::function<void()> prepare;
        std::string expected;
    };
    const Case cases[] = {
        {"link", [&] { client = fixture / L"link"; },
         "安装包包含链接、加密文件或不支持的格式。 | TalvoPC/talvo-曜石纪元_Data/outside"},
        {"reserved name", [&] { client = fixture / L"reserved"; },
         "安装包包含保留文件名。 | TalvoPC/Aux.dll"},
        {"trailing dot", [&] { client = fixture / L"trailing-dot"; },
         "安装包包含不安全的文件路径。 | TalvoPC/readme."},
        {"case duplicates", [&] { client = fixture / L"case"; },
         "安装包包含重复路径。 | TalvoPC/unityplayer.dll"},
        {"marker name", [&] { testing::writeBytes(client / L"TalvoPC" / L".Launcher-Installed.json", "{}"); },
         "安装包包含保留的安装标记。 | TalvoPC/.Launcher-Installed.json"},
        {"path length",
         [&] {
             writeConfig([](json& document) {
                 document["clientPackage"]["installDirectory"] = std::string(100, 'd');
             });
             testing::writeBytes(client / L"TalvoPC" / std::wstring(60, L'n'), "x");
         },
         "安装路径过长或无效，请选择较短的安装目录。 | TalvoPC/" + std::string(60, 'n')},
        {"total size",
         [&] { writeConfig([](json& document) { document["clientPackage"]["maxExtractBytes"] = 1 << 20; }); },
         "解压内容超过大小限制或 ZIP 无效。 | TalvoPC/talvo-曜石纪元_Data/resources.json"},
        {"layout", [&] { fs::remove(client / L"TalvoPC" / L"UnityPlayer.dll"); },
         "ZIP 内未找到完整 Unity 客户端，请检查 EXE 路径、_Data 目录和 UnityPlayer.dll。 | " + executable},
    };
    for (const Case& refused : cases) {
        SCOPED_TRACE(refused.what);
        TempDir output;
        client = dir / L"client";
        fs::remove_all(client);
        makeClient(client);
        writeConfig([](json&) {});
        refused.prepare();
        const std::string configBefore = testing::readBytes(configFile);
        PackRequest what = request();
        what.output = output / L"TalvoPC.zip";
        EXPECT_EQ(refusalOf([&] { pack(what); }), refused.expected);
        EXPECT_TRUE(testing::listNames(output.path()).empty());
        EXPECT_EQ(testing::readBytes(configFile), configBefore);
    }
}

TEST_F(Publishing, PublishedManifestNamesThePackageIsSignedByTheKeyFileAndCountsUp) {
    const PackageSummary packed = pack(request());
    const fs::path ownKeyFile = dir / L"update-key.json";
    createUpdateKeyFile(ownKeyFile);
    const std::string keyText = testing::readBytes(ownKeyFile);
    EXPECT_THROW(createUpdateKeyFile(ownKeyFile), Error);
    EXPECT_EQ(testing::readBytes(ownKeyFile), keyText);

    // Signed with the demo's key, which the launcher build offered below trusts.
    const fs::path keyFile = DEMO_UPDATE_KEY_FILE;
    const UpdateSigningKey key{
        .publicKeyHex = json::parse(testing::readBytes(keyFile)).at("publicKey").get<std::string>(),
        .privateKeyHex = {}};
    PublishRequest what{.package = package,
                        .keyFile = keyFile,
                        .manifest = dir / L"manifest.signed",
                        .executablePath = executable,
                        .version = "2026.12.2",
                        .downloadUrl = *request().downloadUrl,
                        .configFile = configFile};
    CancelToken token;
    for (const std::uint64_t sequence : {1u, 2u}) {
        if (sequence == 2)
            what.launcher = LauncherOffer{.executable = UPDATE_DEMO_NEXT_EXE,
                                          .version = "99.0.0.0",
                                          .downloadUrl = "https://download.example.com/Gatehouse.exe"};
        publishUpdate(what, fs::path(), token, {});
        const SignedManifest published = splitManifestEnvelope(testing::readBytes(what.manifest));
        const UpdateManifest manifest = parseUpdateManifest(published.bytes);
        EXPECT_EQ(manifest.sequence, sequence);
        EXPECT_EQ(manifest.clientPackage["sha256"], packed.sha256);
        EXPECT_EQ(manifest.clientPackage["version"], "2026.12.2");
        EXPECT_TRUE(isSignedBy(published, key.publicKeyHex));
        EXPECT_EQ(manifest.launcher.has_value(), sequence == 2);
    }
    const std::string offered = testing::readBytes(UPDATE_DEMO_NEXT_EXE);
    EXPECT_EQ(
        parseUpdateManifest(splitManifestEnvelope(testing::readBytes(what.manifest)).bytes).launcher->sha256,
        sha256Hex(offered.data(), offered.size()));
}

TEST(PackageCheck, HostileArchivesAreRefusedInTheLaunchersWordsNamingTheEntry) {
    TempDir dir;
    const ToolConfig builtIn = loadToolConfig(std::nullopt, dir.path());
    const auto client = [](std::vector<ZipEntrySpec> extra) {
        std::vector<ZipEntrySpec> entries = {{.name = "TalvoPC/talvo-曜石纪元.exe", .data = "MZ game"},
                                             {.name = "TalvoPC/talvo-曜石纪元_Data/level0", .data = "level"},
                                             {.name = "TalvoPC/UnityPlayer.dll", .data = "MZ player"}};
        entries.insert(entries.end(), extra.begin(), extra.end());
        return entries;
    };
    struct Case {
        std::vector<ZipEntrySpec> entries;
        std::string expected;
    };
    const Case cases[] = {
        {client({}), "<no error>"},
        {client({{.name = "TalvoPC/link", .data = "/etc", .externalAttributes = 0xA1FF0000}}),
         "安装包包含链接、加密文件或不支持的格式。 | 3: TalvoPC/link"},
        {client({{.name = "TalvoPC/unityplayer.DLL", .data = "again"}}),
         "安装包包含重复路径。 | 3: TalvoPC/unityplayer.DLL"},
        {client({{.name = "TalvoPC/broken.bin", .data = "bytes", .crc = 1}}),
         "安装包文件损坏或解压不完整，请重新下载。 | 3: TalvoPC/broken.bin"},
        {{{.name = "TalvoPC/talvo-曜石纪元.exe", .data = "MZ game"},
          {.name = "TalvoPC/UnityPlayer.dll", .data = "MZ"}},
         "ZIP 内未找到完整 Unity 客户端，请检查 EXE 路径、_Data 目录和 UnityPlayer.dll。 | " + executable},
    };
    for (const Case& hostile : cases) {
        const fs::path package = dir / L"hostile.zip";
        testing::writeZip(package, hostile.entries);
        CancelToken token;
        EXPECT_EQ(refusalOf([&] {
                      checkClientPackage(package, builtIn.effective, executable, false, std::nullopt, token,
                                         {});
                  }),
                  hostile.expected);
    }

    // Against a configuration, the digest comes first.
    json document = builtIn.effective.document;
    LauncherConfig configured{document, builtIn.effective.baseDirectory};
    configured.document["clientPackage"]["sha256"] = std::string(64, 'A');
    CancelToken token;
    EXPECT_EQ(refusalOf([&] {
                  checkClientPackage(dir / L"hostile.zip", configured, executable, true, std::nullopt, token,
                                     {});
              }),
              "安装包 SHA256 校验失败，请重试或联系管理员。 | hostile.zip");
}

} // namespace
} // namespace launcher
