// The launcher replacing itself with a build the update manifest offers, on real files in a
// temporary folder with the build served from loopback: what the folder holds after each outcome.
#include "config/deployment.h"
#include "foundation/unique_handle.h"
#include "net/sha256_hash.h"
#include "support/loopback_http_server.h"
#include "support/test_support.h"
#include "update/launcher_replacement.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>

namespace launcher {
namespace {

using testing::Exchange;
using testing::failureOf;
using testing::listNames;
using testing::LoopbackHttpServer;
namespace fs = std::filesystem;

class LauncherReplacement : public ::testing::Test {
protected:
    testing::TempDir dir;
    fs::path executable = dir / L"Gatehouse.exe";
    const std::string running = "MZ the running build";
    const std::string offered = "MZ the offered build" + testing::patternBytes(300000);
    LauncherRelease release{
        "2.0.0", "http://" + std::string(packageHostUtf8) + "/K3ClientRes/exe/TalvoPC/up/Gatehouse.exe",
        sha256Hex(offered.data(), offered.size())};
    LoopbackHttpServer server{
        packagePort, [this](Exchange& exchange) { exchange.send(testing::httpResponse(200, offered)); }};

    void SetUp() override { testing::writeBytes(executable, running); }

    std::string replace(const ProgressCallback& progress = {}) {
        CancelToken token;
        return failureOf([&] { replaceLauncherExecutable(release, executable, token, progress); });
    }
};

TEST_F(LauncherReplacement, OfferedBuildTakesThePlaceOfTheRunningOne) {
    std::vector<std::wstring> statuses;
    EXPECT_EQ(replace([&](const std::wstring& status, std::uint64_t, std::uint64_t total) {
                  if (statuses.empty() || statuses.back() != status) statuses.push_back(status);
                  if (status == L"正在更新启动器") {
                      EXPECT_EQ(total, offered.size());
                  }
              }),
              "<no error>");
    EXPECT_EQ(statuses, (std::vector<std::wstring>{L"正在更新启动器", L"正在安装启动器"}));
    EXPECT_EQ(testing::readBytes(executable), offered);
    // The running build stays beside it until the new one has shown its window.
    EXPECT_EQ(testing::readBytes(dir / L"Gatehouse.exe.old"), running);
    EXPECT_EQ(listNames(dir.path()), (std::vector<std::wstring>{L"Gatehouse.exe", L"Gatehouse.exe.old"}));

    // What is started is what was checked: a build changed since is not started.
    testing::writeBytes(executable, offered + "changed");
    EXPECT_EQ(failureOf([&] { startLauncherExecutable(executable, dir.path(), release.sha256); }),
              "启动器更新校验失败。");
}

TEST_F(LauncherReplacement, EveryFailureLeavesTheRunningBuildInPlaceAndNothingElse) {
    std::thread holder;
    UniqueFile obstacle;
    const std::vector<std::tuple<const char*, std::function<void()>, ProgressCallback, const char*>> cases = {
        {"offered bytes are not the build the manifest names",
         [&] { release.sha256 = std::string(64, 'a'); },
         {},
         "启动器更新校验失败。"},
        {"another launcher of this folder is replacing it",
         [&] {
             obstacle.reset(::CreateFileW((executable.native() + L".update.lock").c_str(), GENERIC_WRITE, 0,
                                          nullptr, CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
         },
         {},
         "另一个启动器正在更新，请稍后重试。"},
        // Something takes the name between the two renames and holds it for a moment: the new build
        // cannot move in, and the running one is put back once the name is free.
        {"the new build cannot move in", [] {},
         [&](const std::wstring& status, std::uint64_t, std::uint64_t) {
             if (status != L"正在安装启动器") return;
             obstacle.reset(::CreateFileW(executable.c_str(), GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
             holder = std::thread([&] {
                 ::Sleep(300);
                 obstacle.reset();
             });
         },
         "无法更新启动器，请检查目录权限。"},
    };
    for (const auto& [what, prepare, progress, failure] : cases) {
        SCOPED_TRACE(what);
        release.sha256 = sha256Hex(offered.data(), offered.size());
        prepare();
        EXPECT_EQ(replace(progress), failure);
        if (holder.joinable()) holder.join();
        obstacle.reset();
        EXPECT_EQ(testing::readBytes(executable), running);
        EXPECT_EQ(listNames(dir.path()), std::vector<std::wstring>{L"Gatehouse.exe"});
    }
}

} // namespace
} // namespace launcher
