#include "config/deployment.h"
#include "foundation/resources.h"
#include "install/client_install.h"
#include "install/installed_marker.h"
#include "net/package_digest.h"
#include "store_fixture.h"
#include "support/loopback_http_server.h"
#include "support/test_support.h"
#include "support/zip_writer.h"

#include <gtest/gtest.h>

#include <atomic>

namespace launcher {
namespace {

using nlohmann::json;
using testing::Exchange;
using testing::failureOf;
using testing::LoopbackHttpServer;
using testing::PublishedStore;
using testing::StoreEntry;
using testing::TempDir;
namespace fs = std::filesystem;

// Small chunks, so that test files are cut into many.
constexpr ChunkingParameters testChunking{1024, 4096, 16384};
const std::string storePath = "/K3ClientRes/exe/TalvoPC/store/";
const std::string packagePath = "/K3ClientRes/exe/TalvoPC/t/TalvoPC.zip";

std::vector<StoreEntry> versionOne() {
    return {{"TalvoPC/talvo-曜石纪元.exe", "MZ game"},
            {"TalvoPC/talvo-曜石纪元_Data/", ""},
            {"TalvoPC/talvo-曜石纪元_Data/Plugins/", ""},
            {"TalvoPC/talvo-曜石纪元_Data/level0", "level one"},
            {"TalvoPC/talvo-曜石纪元_Data/empty.txt", ""},
            {"TalvoPC/talvo-曜石纪元_Data/big.assets", testing::patternBytes(256 << 10)},
            {"TalvoPC/UnityPlayer.dll", "MZ player " + std::string(3000, 'p')}};
}

std::string& dataOf(std::vector<StoreEntry>& entries, std::string_view path) {
    for (StoreEntry& entry : entries)
        if (entry.path == path) return entry.data;
    throw std::logic_error("no such entry");
}

// A launcher whose clientPackage names a store on the loopback package server, which answers
// byte ranges of the store's files and counts what it sent.
class StoreInstall : public ::testing::Test {
public: // the table rows spoil the fixture's store and configuration
    TempDir dir;
    fs::path launcherDir = dir / L"Launcher";
    fs::path client = launcherDir / L"GameClient";
    fs::path store = dir / L"store";
    fs::path cache = dir / L"cache";
    LauncherConfig config{json::parse(loadResourceBytes(builtinConfigResourceId)), launcherDir};
    std::string package;
    std::vector<PublishedStore> versions;
    std::atomic<std::uint64_t> packBytesServed{0};
    std::atomic<int> packageRequests{0};
    std::function<bool(Exchange&)> intercept = [](Exchange&) { return false; };
    LoopbackHttpServer server{packagePort, [this](Exchange& exchange) { serve(exchange); }};

    void SetUp() override { fs::create_directory(launcherDir); }

    void serve(Exchange& exchange) {
        const std::string& target = exchange.request.target;
        if (intercept(exchange)) return;
        if (target == packagePath) {
            ++packageRequests;
            exchange.send(testing::httpResponse(200, package));
            return;
        }
        const fs::path file = store / target.substr(std::min(target.size(), storePath.size()));
        if (!target.starts_with(storePath) || !fs::is_regular_file(file)) {
            exchange.send(testing::httpResponse(404, "not here"));
            return;
        }
        const std::string bytes = testing::readBytes(file);
        const std::string range = exchange.request.header("Range");
        std::uint64_t first = 0;
        std::uint64_t last = 0;
        if (std::sscanf(range.c_str(), "bytes=%llu-%llu", &first, &last) != 2) {
            exchange.send(testing::httpResponse(200, bytes));
            return;
        }
        const std::string body = bytes.substr(first, last - first + 1);
        if (target.ends_with(".pack")) packBytesServed += body.size();
        exchange.send(testing::httpResponse(206, body,
                                            "Content-Range: bytes " + std::to_string(first) + "-" +
                                                std::to_string(last) + "/" + std::to_string(bytes.size()) +
                                                "\r\n"));
    }

    // Publishes `entries` as the package and as the next version of the store, and points the
    // configuration at both.
    const PublishedStore& publish(const std::vector<StoreEntry>& entries,
                                  std::string_view packageDigestOverride = {}) {
        std::vector<testing::ZipEntrySpec> zip;
        for (const StoreEntry& entry : entries)
            zip.push_back({.name = entry.path, .data = entry.data});
        package = testing::buildZip(zip);
        const std::string digest = sha256Hex(package.data(), package.size());
        versions.push_back(testing::publishStore(
            store, entries, packageDigestOverride.empty() ? digest : std::string(packageDigestOverride),
            package.size(), testChunking, versions));
        json& settings = config.document["clientPackage"];
        settings["downloadUrl"] = "http://" + std::string(packageHostUtf8) + packagePath;
        settings["sha256"] = digest;
        settings["version"] = "v" + std::to_string(versions.size());
        settings["index"] = {{"url", "http://" + std::string(packageHostUtf8) + storePath +
                                         indexStorePath(*parseStoreDigest(versions.back().indexDigest))},
                             {"size", versions.back().indexBytes.size()},
                             {"sha256", versions.back().indexDigest}};
        return versions.back();
    }

    std::string install(CancelToken& token, const ProgressCallback& progress = {}) {
        InstallOptions options;
        options.chunkCache = cache;
        return failureOf([&] { installClient(config, token, progress, options); });
    }
    std::string install() {
        CancelToken token;
        return install(token);
    }

    bool ready() {
        CancelToken token;
        return isInstalledClientReady(config, token);
    }

    void expectInstalled(const std::vector<StoreEntry>& entries) {
        EXPECT_TRUE(ready());
        for (const StoreEntry& entry : entries) {
            const fs::path path = client / testing::wide(entry.path);
            if (entry.path.ends_with('/'))
                EXPECT_TRUE(fs::is_directory(path)) << entry.path;
            else
                EXPECT_EQ(testing::readBytes(path), entry.data) << entry.path;
        }
    }
};

TEST_F(StoreInstall, FirstInstallBuildsThePackagesFilesFromTheStoreAlone) {
    const std::vector<StoreEntry> entries = versionOne();
    const PublishedStore& published = publish(entries);
    std::vector<std::wstring> statuses;
    CancelToken token;
    ASSERT_EQ(install(token,
                      [&](const std::wstring& status, std::uint64_t, std::uint64_t) {
                          if (statuses.empty() || statuses.back() != status) statuses.push_back(status);
                      }),
              "<no error>");
    expectInstalled(entries);
    EXPECT_EQ(packageRequests, 0);
    EXPECT_EQ(packBytesServed, published.packBytes);
    const json marker = json::parse(testing::readBytes(client / L".launcher-installed.json"));
    EXPECT_TRUE(packageDigestMatches(marker["sha256"], sha256Hex(package.data(), package.size())));
    EXPECT_EQ(marker["files"].size(), 5u);
    EXPECT_FALSE(fs::exists(cache)); // emptied once the install is complete
    EXPECT_EQ(testing::listNames(launcherDir),
              (std::vector<std::wstring>{L"GameClient", L"GameClient.install.lock"}));
    EXPECT_EQ(statuses.front(), L"正在比对已安装的客户端");
    EXPECT_EQ(statuses.back(), L"客户端已就绪");
}

TEST_F(StoreInstall, UpdateFetchesOnlyWhatTheInstalledClientLacks) {
    std::vector<StoreEntry> entries = versionOne();
    const std::uint64_t firstPack = publish(entries).packBytes;
    ASSERT_EQ(install(), "<no error>");
    // Version 2 changes a small file and 2 KiB in the middle of the large one; the player has
    // changed the player library without changing its size.
    dataOf(entries, "TalvoPC/talvo-曜石纪元_Data/level0") = "level two";
    dataOf(entries, "TalvoPC/talvo-曜石纪元_Data/big.assets")
        .replace(128 << 10, 2048, std::string(2048, 'x'));
    testing::writeBytes(client / L"TalvoPC" / L"UnityPlayer.dll", "MZ PLAYER " + std::string(3000, 'p'));
    const PublishedStore& second = publish(entries);
    packBytesServed = 0;
    ASSERT_EQ(install(), "<no error>");
    expectInstalled(entries);
    // The new chunks, the player library's and nothing of the unchanged large file.
    EXPECT_GT(packBytesServed, second.packBytes);
    EXPECT_LT(packBytesServed, second.packBytes + 4096);
    EXPECT_LT(second.packBytes, firstPack / 4);
    EXPECT_EQ(packageRequests, 0);
}

TEST_F(StoreInstall, AStoreThatCannotBeUsedFallsBackToTheFullPackage) {
    const struct {
        const char* name;
        std::function<void(StoreInstall&)> spoil;
    } cases[] = {
        {"index missing", [](StoreInstall& test) { fs::remove_all(test.store / L"indexes"); }},
        {"index of other bytes",
         [](StoreInstall& test) {
             test.config.document["clientPackage"]["index"]["sha256"] = std::string(64, 'a');
         }},
        {"index of another package",
         [](StoreInstall& test) {
             const std::string digest = test.config.document["clientPackage"]["sha256"];
             test.versions.clear();
             test.publish(versionOne(), std::string(64, '0'));
             test.config.document["clientPackage"]["sha256"] = digest;
         }},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        fs::remove_all(client);
        fs::remove_all(store);
        versions.clear();
        publish(versionOne());
        row.spoil(*this);
        packageRequests = 0;
        ASSERT_EQ(install(), "<no error>");
        EXPECT_EQ(packageRequests, 1);
        expectInstalled(versionOne());
    }
}

TEST_F(StoreInstall, AChunkFailingItsDigestStopsTheInstallAndTheRetryContinuesFromTheCache) {
    const PublishedStore& published = publish(versionOne());
    // The pack's last stored byte is damaged once: everything before it is verified and kept.
    bool damaged = false;
    intercept = [&](Exchange& exchange) {
        if (damaged || !exchange.request.target.ends_with(".pack")) return false;
        damaged = true;
        std::string bytes = testing::readBytes(store / packStorePath(published.index.packs[0].digest));
        bytes.back() ^= 0x55;
        packBytesServed += bytes.size();
        exchange.send(testing::httpResponse(206, bytes,
                                            "Content-Range: bytes 0-" + std::to_string(bytes.size() - 1) +
                                                "/" + std::to_string(bytes.size()) + "\r\n"));
        return true;
    };
    EXPECT_EQ(install(), "安装包 SHA256 校验失败，请重试或联系管理员。");
    EXPECT_FALSE(fs::exists(client));
    packBytesServed = 0;
    ASSERT_EQ(install(), "<no error>");
    expectInstalled(versionOne());
    EXPECT_GT(packBytesServed, 0u);
    EXPECT_LT(packBytesServed, 16384u); // the damaged chunk, not the pack again
}

TEST_F(StoreInstall, CancellingDuringTheFetchKeepsTheOldClient) {
    std::vector<StoreEntry> entries = versionOne();
    publish(entries);
    ASSERT_EQ(install(), "<no error>");
    const json oldPackage = config.document["clientPackage"];
    dataOf(entries, "TalvoPC/talvo-曜石纪元_Data/big.assets") = testing::patternBytes(300 << 10).substr(7);
    publish(entries);
    CancelToken token;
    intercept = [&](Exchange& exchange) {
        if (!exchange.request.target.ends_with(".pack")) return false;
        cancel(token); // the player presses cancel while the request waits for its answer
        exchange.waitForStop(500);
        return true;
    };
    EXPECT_EQ(install(token), "操作已取消");
    config.document["clientPackage"] = oldPackage;
    EXPECT_TRUE(ready());
}

TEST_F(StoreInstall, TheIndexsPathsAndSizesFollowThePackageRules) {
    const struct {
        std::vector<StoreEntry> extra;
        std::uint64_t maxExtract;
        const char* expected;
    } cases[] = {
        {{{"TalvoPC/../evil.dll", "x"}}, 1u << 30, "安装包包含不安全的文件路径。"},
        {{{"TalvoPC/unityplayer.DLL", "x"}}, 1u << 30, "安装包包含重复路径。"},
        {{{"TalvoPC/CON.txt", "x"}}, 1u << 30, "安装包包含保留文件名。"},
        {{}, 1000, "解压内容超过大小限制或 ZIP 无效。"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.expected);
        std::vector<StoreEntry> entries = versionOne();
        entries.insert(entries.end(), row.extra.begin(), row.extra.end());
        versions.clear();
        publish(entries);
        config.document["clientPackage"]["maxExtractBytes"] = row.maxExtract;
        packBytesServed = 0;
        EXPECT_EQ(install(), row.expected);
        EXPECT_EQ(packBytesServed, 0u);
        EXPECT_FALSE(fs::exists(client));
    }
}

} // namespace
} // namespace launcher
