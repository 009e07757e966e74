#include "config/deployment.h"
#include "filesystem/disk_space.h"
#include "foundation/busy_file.h"
#include "foundation/diagnostic_log.h"
#include "foundation/resources.h"
#include "foundation/text.h"
#include "install/client_install.h"
#include "install/installed_marker.h"
#include "net/sha256_hash.h"
#include "support/loopback_http_server.h"
#include "support/test_support.h"
#include "support/zip_writer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <future>
#include <thread>

namespace launcher {
namespace {

using nlohmann::json;
using testing::Exchange;
using testing::failureOf;
using testing::listNames;
using testing::LoopbackHttpServer;
using testing::TempDir;
using testing::ZipEntrySpec;
namespace fs = std::filesystem;

std::vector<ZipEntrySpec> clientPackage(const std::string& level = "level one") {
    return {{.name = "TalvoPC/talvo-曜石纪元.exe", .data = "MZ game"},
            {.name = "TalvoPC/talvo-曜石纪元_Data/level0", .data = level},
            {.name = "TalvoPC/talvo-曜石纪元_Data/big.assets", .data = testing::patternBytes(2 << 20)},
            {.name = "TalvoPC/UnityPlayer.dll", .data = "MZ player"}};
}

// The tree made by make_link_fixture, or an empty path when the test does not run through CTest.
fs::path linkFixture() {
    const char* location = std::getenv("LAUNCHER_TEST_LINK_FIXTURE");
    return location == nullptr ? fs::path() : fs::path(location).lexically_normal();
}

// A launcher directory with a configuration that installs into its GameClient folder from the
// loopback package server.
class ClientInstall : public ::testing::Test {
protected:
    TempDir dir;
    fs::path launcherDir = dir / L"Launcher";
    fs::path client = launcherDir / L"GameClient";
    LauncherConfig config{json::parse(loadResourceBytes(builtinConfigResourceId)), launcherDir};
    std::string package;
    std::vector<std::wstring> statuses;
    std::function<void(Exchange&)> serve = [this](Exchange& exchange) {
        exchange.send(testing::httpResponse(200, package));
    };
    LoopbackHttpServer server{packagePort, [this](Exchange& exchange) { serve(exchange); }};

    void SetUp() override {
        fs::create_directory(launcherDir);
        usePackage(clientPackage());
        auto& settings = config.document["clientPackage"];
        settings["downloadUrl"] =
            "http://" + std::string(packageHostUtf8) + "/K3ClientRes/exe/TalvoPC/t/TalvoPC.zip";
        settings["version"] = "v1";
    }

    void usePackage(const std::vector<ZipEntrySpec>& entries) {
        package = testing::buildZip(entries);
        config.document["clientPackage"]["sha256"] = sha256Hex(package.data(), package.size());
    }

    // How long an install waits for a held file or folder.
    std::chrono::milliseconds busyWait = busyFileWait;

    std::string install(CancelToken& token, const ProgressCallback& extra = {}) {
        return failureOf([&] {
            installClient(
                config, token,
                [&](const std::wstring& status, std::uint64_t done, std::uint64_t total) {
                    if (statuses.empty() || statuses.back() != status) statuses.push_back(status);
                    if (extra) extra(status, done, total);
                },
                busyWait);
        });
    }
    std::string install() {
        CancelToken token;
        return install(token);
    }

    // Only the install directory and the lock file may remain beside it.
    void expectNoLeftovers() {
        for (const std::wstring& name : listNames(launcherDir))
            EXPECT_TRUE(name == L"GameClient" || name == L"GameClient.install.lock") << testing::narrow(name);
    }

    bool ready() {
        CancelToken token;
        return isInstalledClientReady(config, token);
    }
};

TEST_F(ClientInstall, FreshInstallLeavesAReadyClientAndNothingElse) {
    ASSERT_EQ(install(), "<no error>");
    EXPECT_EQ(testing::readBytes(client / L"TalvoPC" / L"talvo-曜石纪元_Data" / L"level0"), "level one");
    EXPECT_TRUE(ready());
    expectNoLeftovers();
    EXPECT_TRUE(fs::exists(launcherDir / L"GameClient.install.lock"));
    EXPECT_EQ(statuses, (std::vector<std::wstring>{L"正在下载客户端", L"正在校验安装包", L"正在解压客户端",
                                                   L"正在检查客户端", L"正在安装客户端", L"客户端已就绪"}));
    const json marker = json::parse(testing::readBytes(client / L".launcher-installed.json"));
    EXPECT_EQ(marker["sha256"], sha256Hex(package.data(), package.size()));
    EXPECT_EQ(marker["version"], "v1");
    EXPECT_EQ(marker["files"].size(), 4u);
}

TEST_F(ClientInstall, ReinstallReplacesTheWholeOldTree) {
    ASSERT_EQ(install(), "<no error>");
    testing::writeBytes(client / L"TalvoPC" / L"old-only.txt", "from the old client");
    usePackage(clientPackage("level two"));
    config.document["clientPackage"]["sha256"] = testing::narrow(
        toLowerCase(testing::wide(config.document["clientPackage"]["sha256"].get<std::string>())));
    ASSERT_EQ(install(), "<no error>");
    EXPECT_EQ(testing::readBytes(client / L"TalvoPC" / L"talvo-曜石纪元_Data" / L"level0"), "level two");
    EXPECT_FALSE(fs::exists(client / L"TalvoPC" / L"old-only.txt"));
    EXPECT_TRUE(ready());
    expectNoLeftovers();
}

TEST_F(ClientInstall, EmptyInstallDirectoryIsInstalledInto) {
    fs::create_directory(client);
    ASSERT_EQ(install(), "<no error>");
    EXPECT_TRUE(ready());
    expectNoLeftovers();
}

TEST_F(ClientInstall, OccupiedDirectoryIsRefusedBeforeAnythingIsCreated) {
    fs::create_directory(client);
    testing::writeBytes(client / L"save.dat", "player's own file");
    EXPECT_EQ(install(), "游戏安装目录已有其他文件，请使用新的空目录。");
    EXPECT_EQ(listNames(launcherDir), std::vector<std::wstring>{L"GameClient"});
    EXPECT_EQ(server.requests().size(), 0u);

    fs::remove_all(client);
    testing::writeBytes(client, "a file where the directory belongs");
    EXPECT_EQ(install(), "游戏安装目录已有其他文件，请使用新的空目录。");
    EXPECT_EQ(testing::readBytes(client), "a file where the directory belongs");
}

TEST_F(ClientInstall, SecondInstallFailsAtTheLockWhileTheFirstProceeds) {
    std::promise<void> downloading;
    auto release = std::make_shared<std::promise<void>>();
    serve = [&, released = release->get_future().share()](Exchange& exchange) {
        downloading.set_value();
        released.wait();
        exchange.send(testing::httpResponse(200, package));
    };
    CancelToken firstToken;
    auto first = std::async(std::launch::async, [&] { return install(firstToken); });
    downloading.get_future().wait();
    CancelToken secondToken;
    EXPECT_EQ(failureOf([&] { installClient(config, secondToken, {}); }),
              "另一个启动器正在安装游戏，请稍后重试。");
    release->set_value();
    EXPECT_EQ(first.get(), "<no error>");
    EXPECT_TRUE(ready());
    expectNoLeftovers();
}

TEST_F(ClientInstall, DigestMismatchKeepsTheOldClient) {
    ASSERT_EQ(install(), "<no error>");
    const std::string marker = testing::readBytes(client / L".launcher-installed.json");
    package = testing::buildZip(clientPackage("tampered"));
    EXPECT_EQ(install(), "安装包 SHA256 校验失败，请重试或联系管理员。");
    EXPECT_EQ(testing::readBytes(client / L".launcher-installed.json"), marker);
    EXPECT_TRUE(ready());
    expectNoLeftovers();
}

TEST_F(ClientInstall, PackageWithoutACompleteClientIsRefused) {
    usePackage({{.name = "TalvoPC/talvo-曜石纪元.exe", .data = "MZ game"},
                {.name = "TalvoPC/readme.txt", .data = "x"}});
    EXPECT_EQ(install(), "ZIP 内未找到完整 Unity 客户端，请检查 EXE 路径、_Data 目录和 UnityPlayer.dll。");
    EXPECT_FALSE(fs::exists(client));
    expectNoLeftovers();
}

TEST_F(ClientInstall, CancelDuringDownloadKeepsTheOldClient) {
    ASSERT_EQ(install(), "<no error>");
    std::promise<void> started;
    serve = [&](Exchange& exchange) {
        exchange.send(testing::httpHead(200, static_cast<long long>(package.size())) +
                      package.substr(0, 1000));
        started.set_value();
        exchange.waitForStop(3000); // Wine does not wake the blocked read when the request is closed
    };
    CancelToken token;
    auto outcome = std::async(std::launch::async, [&] { return install(token); });
    started.get_future().wait();
    cancel(token);
    EXPECT_EQ(outcome.get(), "操作已取消");
    EXPECT_TRUE(ready());
    expectNoLeftovers();
}

TEST_F(ClientInstall, CancelDuringOrRightAfterExtractionKeepsTheOldClient) {
    ASSERT_EQ(install(), "<no error>");
    usePackage(clientPackage("level two"));
    // The last extraction report comes after every file is written: the swap is all that is left.
    for (const wchar_t* cancelAt : {L"正在解压客户端", L"正在检查客户端"}) {
        CancelToken token;
        EXPECT_EQ(install(token,
                          [&](const std::wstring& status, std::uint64_t done, std::uint64_t) {
                              if (status == cancelAt && done > 0) cancel(token);
                          }),
                  "操作已取消")
            << testing::narrow(cancelAt);
        EXPECT_EQ(testing::readBytes(client / L"TalvoPC" / L"talvo-曜石纪元_Data" / L"level0"), "level one");
        expectNoLeftovers();
    }
}

TEST_F(ClientInstall, FailedFinalRenameRestoresTheOldClient) {
    ASSERT_EQ(install(), "<no error>");
    const std::string oldDigest = config.document["clientPackage"]["sha256"];
    usePackage(clientPackage("level two"));
    CancelToken token;
    // Taking the staged client away right before the swap makes its rename into place fail for
    // real, after the old client was moved aside.
    const std::string failure = install(token, [&](const std::wstring& status, std::uint64_t, std::uint64_t) {
        if (status != L"正在安装客户端") return;
        for (const auto& entry : fs::directory_iterator(launcherDir))
            if (entry.path().filename().native().starts_with(L"GameClient.install-"))
                fs::remove_all(entry.path() / L"content");
    });
    EXPECT_TRUE(failure.starts_with("<other: ")) << failure;
    EXPECT_EQ(testing::readBytes(client / L"TalvoPC" / L"talvo-曜石纪元_Data" / L"level0"), "level one");
    config.document["clientPackage"]["sha256"] = oldDigest;
    EXPECT_TRUE(ready()) << "every file of the old client is back";
    expectNoLeftovers();
}

TEST_F(ClientInstall, InstallDirectoryBelowALinkIsRefused) {
    const fs::path fixture = linkFixture();
    if (fixture.empty()) GTEST_SKIP() << "LAUNCHER_TEST_LINK_FIXTURE is not set: run through CTest";
    config.document["clientPackage"]["installDirectory"] =
        testing::narrow((fixture / L"linked-parent" / L"GameClient").native());
    EXPECT_EQ(install(), "安装路径不能包含目录链接。");
    EXPECT_FALSE(fs::exists(fixture / L"outside" / L"GameClient.install.lock"));
    EXPECT_EQ(server.requests().size(), 0u);
}

TEST_F(ClientInstall, LeftoversOfInterruptedInstallsAreRemoved) {
    const fs::path fixture = linkFixture();
    if (fixture.empty()) GTEST_SKIP() << "LAUNCHER_TEST_LINK_FIXTURE is not set: run through CTest";
    const fs::path parent = fixture / L"leftovers";
    config.document["clientPackage"]["installDirectory"] = testing::narrow((parent / L"GameClient").native());
    // The fixture put a link into this one: it stays, and so does what the link points at.
    const std::wstring holdingLink = L"GameClient.install-0123456789ABCDEF0123456789ABCDEF";
    const std::wstring token = L"00112233445566778899aabbccddEEFF";
    const std::vector<std::wstring> abandoned = {L"GameClient.install-" + token,
                                                 L"gameclient.PREVIOUS-" + token};
    std::vector<std::wstring> kept = {
        L"GameClient.install-" + token.substr(1),
        L"GameClient.install-" + token + L"0",
        L"GameClient.previous-" + token + L".old",
        L"GameClient.install-" + token.substr(1) + L"g",
        L"GameClient2.install-" + token,
        L"OldGameClient.previous-" + token,
        L"GameClient.staging-" + token,
    };
    for (const std::vector<std::wstring>& names : {abandoned, kept}) {
        for (const std::wstring& name : names) {
            fs::create_directories(parent / name / L"sub");
            testing::writeBytes(parent / name / L"sub" / L"part", "x");
        }
    }

    ASSERT_EQ(install(), "<no error>");
    kept.insert(kept.end(), {holdingLink, L"GameClient", L"GameClient.install.lock"});
    std::ranges::sort(kept);
    EXPECT_EQ(listNames(parent), kept);
    EXPECT_EQ(listNames(parent / holdingLink / L"link"), (std::vector<std::wstring>{L"deep", L"keep.txt"}));
}

// A launcher killed between the swap's two renames leaves the old client beside a missing D: the
// next install puts it back if it is complete, whatever its version, rather than delete the
// player's only copy.
TEST_F(ClientInstall, OldClientLeftAsideByAnInterruptedSwapIsPutBackWhenComplete) {
    ASSERT_EQ(install(), "<no error>");
    const fs::path saved = dir / L"saved";
    fs::rename(client, saved);
    const fs::path previous = launcherDir / L"GameClient.previous-00112233445566778899AABBCCDDEEFF";
    usePackage(clientPackage("level two"));
    config.document["clientPackage"]["version"] = "v2";
    const std::string goodPackage = package;
    package = testing::buildZip(clientPackage("tampered")); // so the install fails after the clean-up
    struct Case {
        const char* leftAside;
        std::function<void()> damage;
        bool putBack;
    };
    const Case cases[] = {
        {"a file of another size",
         [&] { testing::writeBytes(previous / L"TalvoPC" / L"UnityPlayer.dll", "MZ"); }, false},
        {"an unreadable marker", [&] { testing::writeBytes(previous / L".launcher-installed.json", "{"); },
         false},
        {"complete", [] {}, true},
    };
    for (const Case& c : cases) {
        fs::copy(saved, previous, fs::copy_options::recursive);
        c.damage();
        EXPECT_EQ(install(), "安装包 SHA256 校验失败，请重试或联系管理员。") << c.leftAside;
        EXPECT_EQ(fs::exists(client / L"TalvoPC" / L"talvo-曜石纪元_Data" / L"level0"), c.putBack)
            << c.leftAside;
        expectNoLeftovers();
    }
    EXPECT_EQ(testing::readBytes(client / L"TalvoPC" / L"talvo-曜石纪元_Data" / L"level0"), "level one");

    // Put back, it is replaced as usual.
    fs::rename(client, previous);
    package = goodPackage;
    ASSERT_EQ(install(), "<no error>");
    EXPECT_EQ(testing::readBytes(client / L"TalvoPC" / L"talvo-曜石纪元_Data" / L"level0"), "level two");
    EXPECT_TRUE(ready());
    expectNoLeftovers();
}

TEST_F(ClientInstall, CancelLeavesTheLeftoversNotYetRemoved) {
    const fs::path leftover = launcherDir / L"GameClient.install-00112233445566778899AABBCCDDEEFF";
    fs::create_directories(leftover / L"content");
    testing::writeBytes(leftover / L"content" / L"big.assets", "x");
    CancelToken token;
    cancel(token);
    EXPECT_EQ(install(token), "操作已取消");
    EXPECT_TRUE(fs::exists(leftover / L"content" / L"big.assets"));
    EXPECT_EQ(server.requests().size(), 0u);
}

TEST_F(ClientInstall, InvalidConfigurationTouchesNothing) {
    config.document["clientPackage"]["installDirectory"] = ".";
    EXPECT_EQ(install(), "请使用独立的游戏安装子目录。");
    EXPECT_EQ(listNames(launcherDir), std::vector<std::wstring>{});
}

TEST_F(ClientInstall, UnwritableFolderIsNotMistakenForAnotherLauncher) {
    // Windows answers "access denied" for Program Files or read-only media; Wine answers the same
    // for a directory where the lock file belongs.
    fs::create_directory(launcherDir / L"GameClient.install.lock");
    EXPECT_EQ(install(), "游戏目录没有写入权限，请将启动器放到可写入的文件夹后重试。");
    EXPECT_EQ(server.requests().size(), 0u);
}

TEST_F(ClientInstall, DeepInstallDirectoryTakesEveryEntryThatFitsThere) {
    // The staged copy of such an entry is longer than MAX_PATH; the limit is on the installed path.
    std::wstring deep = client.native();
    while (deep.size() + 41 <= 180)
        deep += L"\\" + std::wstring(40, L'd');
    config.document["clientPackage"]["installDirectory"] = testing::narrow(deep);
    client = deep;
    const std::wstring folder = L"TalvoPC/talvo-曜石纪元_Data/";
    const std::size_t room = 240 - deep.size() - 1 - folder.size();
    for (const std::size_t nameLength : {room, room + 1}) {
        std::vector<ZipEntrySpec> entries = clientPackage();
        entries.push_back({.name = testing::narrow(folder + std::wstring(nameLength, L'n')), .data = "deep"});
        usePackage(entries);
        if (nameLength > room) {
            EXPECT_EQ(install(), "安装路径过长或无效，请选择较短的安装目录。");
            continue;
        }
        ASSERT_EQ(install(), "<no error>");
        EXPECT_EQ(testing::readBytes(deep + L"/" + folder + std::wstring(room, L'n')), "deep");
        EXPECT_TRUE(ready());
    }
}

TEST_F(ClientInstall, PcStaysAwakeOnlyWhileInstalling) {
    // Wine keeps the state Windows would act on, and tells the previous one to the next caller.
    for (const bool tampered : {false, true}) {
        if (tampered) package = testing::buildZip(clientPackage("tampered"));
        EXECUTION_STATE during = 0;
        CancelToken token;
        install(token, [&](const std::wstring&, std::uint64_t, std::uint64_t) {
            during = ::SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
        });
        EXPECT_EQ(during, ES_CONTINUOUS | ES_SYSTEM_REQUIRED) << tampered;
        EXPECT_EQ(::SetThreadExecutionState(ES_CONTINUOUS), ES_CONTINUOUS) << tampered;
    }
}

TEST_F(ClientInstall, PackageTheDiskCannotHoldIsRefusedBeforeItIsWritten) {
    constexpr std::uint64_t petabyte = 1ull << 50;
    auto& settings = config.document["clientPackage"];
    settings["maxDownloadBytes"] = settings["maxExtractBytes"] = 2 * petabyte;
    const std::string announcedTooLarge = testing::httpHead(200, static_cast<long long>(petabyte));
    serve = [&](Exchange& exchange) { exchange.send(announcedTooLarge); };
    EXPECT_TRUE(install().starts_with("磁盘空间不足：需要约 1048576.")) << install();

    std::vector<ZipEntrySpec> entries = clientPackage();
    entries.push_back({.name = "TalvoPC/huge.assets", .data = "x", .declaredSize = petabyte});
    package = testing::buildZip(entries, true);
    settings["sha256"] = sha256Hex(package.data(), package.size());
    serve = [&](Exchange& exchange) { exchange.send(testing::httpResponse(200, package)); };
    EXPECT_TRUE(install().starts_with("磁盘空间不足：需要约 1048576.")) << install();
    expectNoLeftovers();
    EXPECT_EQ(diskSpaceMessage(1, 0), "磁盘空间不足：需要约 0.1 GB，可用 0.0 GB。");
    EXPECT_EQ(diskSpaceMessage(16ull << 30, (4ull << 30) - 1), "磁盘空间不足：需要约 16.0 GB，可用 3.9 GB。");
}

TEST_F(ClientInstall, OldClientHeldOpenIsReplacedOnceFreeAndKeptWhileHeld) {
    ASSERT_EQ(install(), "<no error>");
    usePackage(clientPackage("level two"));
    // Windows refuses to rename a folder holding the running game's open files; Wine renames it,
    // but refuses, as Windows does, while the folder itself is open without shared deletion.
    const auto openClient = [&] {
        return UniqueFile{::CreateFileW(client.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)};
    };
    UniqueFile holder = openClient();
    ASSERT_TRUE(holder);
    // No process holds the client's programs (nor could Wine's Restart Manager say so): the
    // failed rename is what the player is told, not a running game. Given up after a second rather
    // than the launcher's fifteen, which the test need not wait out.
    busyWait = std::chrono::seconds(1);
    const std::string held = install();
    busyWait = busyFileWait;
    EXPECT_TRUE(held.starts_with("<other: ") && held.find("cannot rename") != std::string::npos) << held;
    holder.reset();
    EXPECT_EQ(testing::readBytes(client / L"TalvoPC" / L"talvo-曜石纪元_Data" / L"level0"), "level one");
    expectNoLeftovers();

    // A scanner lets go within moments.
    std::thread scanner;
    CancelToken token;
    EXPECT_EQ(install(token,
                      [&](const std::wstring& status, std::uint64_t, std::uint64_t) {
                          if (status != L"正在安装客户端") return;
                          holder = openClient();
                          scanner = std::thread([&] {
                              ::Sleep(300);
                              holder.reset();
                          });
                      }),
              "<no error>");
    scanner.join();
    EXPECT_EQ(testing::readBytes(client / L"TalvoPC" / L"talvo-曜石纪元_Data" / L"level0"), "level two");
    expectNoLeftovers();
}

// What an operator reads when players report a failed download: both digests, and the entry the
// package must not hold with the rule it broke.
TEST_F(ClientInstall, LogExplainsADigestMismatchAndARefusedEntry) {
    const std::string configured = config.document["clientPackage"]["sha256"];
    const std::string tampered = testing::buildZip(clientPackage("tampered"));
    std::vector<ZipEntrySpec> withDevice = clientPackage();
    withDevice.push_back({.name = "TalvoPC/Con.txt", .data = "x"});
    {
        const DiagnosticLog log(dir / L"Logs");
        package = tampered;
        EXPECT_EQ(install(), "安装包 SHA256 校验失败，请重试或联系管理员。");
        usePackage(withDevice);
        EXPECT_EQ(install(), "安装包包含保留文件名。");
    }
    const std::string text = testing::readBytes(dir / L"Logs" / L"launcher.log");
    for (const std::string& line :
         {"install.digest expected=" + configured +
              " computed=" + sha256Hex(tampered.data(), tampered.size()) + " matches=no",
          std::string(R"(extract.refused entry="4: TalvoPC/Con.txt" rule=安装包包含保留文件名。)")})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
}

TEST(InstalledMarkerSize, MarkerTheReadinessCheckCouldNotReadIsRefused) {
    // A client of some 200000 long-named files makes a marker this large; installing it would
    // only lead to a download on every start.
    std::string marker(maxMarkerFileBytes, ' ');
    EXPECT_EQ(failureOf([&] { rejectUnreadableMarker(marker); }), "<no error>");
    marker.push_back(' ');
    EXPECT_EQ(failureOf([&] { rejectUnreadableMarker(marker); }), "安装包文件数量过多。");
}

} // namespace
} // namespace launcher
