#include "config/deployment.h"
#include "config/launcher_config.h"
#include "foundation/resources.h"
#include "install/client_install.h"
#include "install/installed_marker.h"
#include "install/package_extraction.h"
#include "net/sha256_hash.h"
#include "pack/archive_writer.h"
#include "pack/pack_command.h"
#include "pack/tool_config.h"
#include "pack/update_publish.h"
#include "support/loopback_http_server.h"
#include "support/test_support.h"
#include "support/zip_writer.h"
#include "tool_refusal_text.h"
#include "update/signed_manifest.h"
#include "update/update_manifest.h"
#include "update/update_signature.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

namespace launcher {
namespace {

using nlohmann::json;
using testing::refusalOf;
using testing::TempDir;
using testing::ZipEntrySpec;
namespace fs = std::filesystem;

const std::string executable = "TalvoPC/talvo-曜石纪元.exe";

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
    std::string version = "2026.12.1";

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
                           .version = version,
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

// The bytes of every file in `folder`, as the launcher counts them against maxExtractBytes.
std::uint64_t folderBytes(const fs::path& folder) {
    std::uint64_t total = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file()) total += entry.file_size();
    return total;
}

TEST_F(Publishing, FolderTheLauncherWouldRefuseIsRefusedWithTheRuleTheEntryAndTheValues) {
    const fs::path fixture = hostFixture();
    if (fixture.empty()) GTEST_SKIP() << "needs the host fixture of CTest";
    const fs::path game = client / L"TalvoPC";
    const fs::path data = game / L"talvo-曜石纪元_Data";
    // The folder's own bytes, grouped as the refusal shows them.
    std::string total = std::to_string(folderBytes(client));
    for (std::size_t at = total.size(); at > 3; at -= 3)
        total.insert(at - 3, ",");
    struct Case {
        const char* what;
        std::function<void()> prepare;
        std::string expected; // rule | entry or file | expected | actual
    };
    const Case cases[] = {
        {"link", [&] { client = fixture / L"link"; },
         "entry-link | TalvoPC/talvo-曜石纪元_Data/outside | a file or a folder | a link (symbolic link, "
         "junction or mount point)"},
        {"reserved name", [&] { client = fixture / L"reserved"; },
         "entry-path-device-name | TalvoPC/Aux.dll | no device name (CON, PRN, AUX, NUL, COM0-9, LPT0-9), "
         "with "
         "or without an extension | \"Aux.dll\""},
        {"trailing dot", [&] { client = fixture / L"trailing-dot"; },
         "entry-path-trailing-dot-or-space | TalvoPC/readme. | names that do not end in a dot or a space "
         "(Windows drops them, so two names would open one file) | \"readme.\""},
        {"case duplicates", [&] { client = fixture / L"case"; },
         "entry-path-case-clash | TalvoPC/unityplayer.dll | a path no other entry has, ignoring letter case "
         "| "
         "the same path as TalvoPC/UnityPlayer.dll"},
        {"marker name", [&] { testing::writeBytes(game / L".Launcher-Installed.json", "{}"); },
         "entry-path-installed-marker | TalvoPC/.Launcher-Installed.json | no entry named "
         ".launcher-installed.json (the launcher's own marker) | \".Launcher-Installed.json\""},
        {"total size",
         [&] { writeConfig([](json& document) { document["clientPackage"]["maxExtractBytes"] = 1 << 20; }); },
         "max-extract-bytes | " + testing::narrow(client.native()) +
             " | at most 1,048,576 bytes unpacked (clientPackage.maxExtractBytes) | " + total +
             " bytes unpacked"},
        {"executable missing", [&] { fs::remove(game / L"talvo-曜石纪元.exe"); },
         "executable-not-in-package | " + executable + " | a file | missing"},
        {"empty _Data folder",
         [&] {
             fs::remove_all(data);
             fs::create_directory(data);
         },
         "client-layout | TalvoPC/talvo-曜石纪元_Data/ | a folder with files in it, beside " + executable +
             " | an empty folder"},
        {"no UnityPlayer.dll", [&] { fs::remove(game / L"UnityPlayer.dll"); },
         "client-layout | TalvoPC/UnityPlayer.dll | a file beside " + executable + " | missing"},
        {"version with a space at its end", [&] { version = "2026.12.1 "; },
         "version-text | --version | text without control characters and without spaces at either end | "
         "\"2026.12.1 \""},
    };
    for (const Case& refused : cases) {
        SCOPED_TRACE(refused.what);
        TempDir output;
        client = dir / L"client";
        version = "2026.12.1";
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

TEST(PackageCheck, HostileArchivesAreRefusedWithTheRuleTheEntryAndTheValues) {
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
         "entry-unsupported | TalvoPC/link | a file or folder, stored or deflated, not encrypted | a link, "
         "an "
         "encrypted entry or another compression method"},
        {client({{.name = "TalvoPC/unityplayer.DLL", .data = "again"}}),
         "entry-path-case-clash | TalvoPC/unityplayer.DLL | a path no other entry has, ignoring letter case "
         "| "
         "the same path as TalvoPC/UnityPlayer.dll"},
        {client({{.name = "TalvoPC/level0:hidden", .data = "stream"}}),
         "entry-path-colon | TalvoPC/level0:hidden | no ':' (it names a drive or an NTFS alternate data "
         "stream) | \"TalvoPC/level0:hidden\""},
        {client({{.name = "TalvoPC/broken.bin", .data = "bytes", .crc = 1}}),
         "entry-damaged | TalvoPC/broken.bin | bytes that inflate to the size and CRC-32 the archive "
         "declares "
         "| bytes that do not"},
        {{{.name = "TalvoPC/talvo-曜石纪元.exe", .data = "MZ game"},
          {.name = "TalvoPC/UnityPlayer.dll", .data = "MZ"}},
         "client-layout | TalvoPC/talvo-曜石纪元_Data/ | a folder with files in it, beside " + executable +
             " | missing"},
    };
    const fs::path package = dir / L"hostile.zip";
    for (const Case& hostile : cases) {
        testing::writeZip(package, hostile.entries);
        CancelToken token;
        EXPECT_EQ(refusalOf([&] {
                      checkClientPackage(package, builtIn.effective, executable, false, std::nullopt, token,
                                         {});
                  }),
                  hostile.expected);
    }

    // Against a configuration, the size and the digest come first.
    const std::string bytes = testing::readBytes(package);
    const std::string shown = testing::narrow(package.native());
    LauncherConfig configured{builtIn.effective.document, builtIn.effective.baseDirectory};
    configured.document["clientPackage"]["sha256"] = std::string(64, 'A');
    CancelToken token;
    const auto checked = [&] {
        checkClientPackage(package, configured, executable, true, std::nullopt, token, {});
    };
    EXPECT_EQ(refusalOf(checked), "package-digest-mismatch | " + shown + " | " + std::string(64, 'A') +
                                      " | " + sha256Hex(bytes.data(), bytes.size()));
    configured.document["clientPackage"]["maxDownloadBytes"] = bytes.size() - 1;
    EXPECT_EQ(refusalOf(checked),
              "max-download-bytes | " + shown + " | at most " + std::to_string(bytes.size() - 1) +
                  " bytes (clientPackage.maxDownloadBytes) | " + std::to_string(bytes.size()) + " bytes");
}

} // namespace
} // namespace launcher
