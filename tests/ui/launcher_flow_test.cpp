// The launcher window as a player meets it: the real window procedure and flow, driven by the
// messages clicks and keys produce, against the loopback package and login services and the
// stand-in game.
#include "config/deployment.h"
#include "foundation/resources.h"
#include "net/sha256_hash.h"
#include "support/loopback_http_server.h"
#include "support/test_support.h"
#include "support/zip_writer.h"
#include "ui/launcher_app.h"
#include "ui/launcher_flow.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <functional>

namespace launcher {
namespace {

using nlohmann::json;
using testing::Exchange;
using testing::LoopbackHttpServer;
namespace fs = std::filesystem;

class LauncherFlow : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Gdiplus::GdiplusStartupInput input;
        Gdiplus::GdiplusStartup(&gdiplus_, &input, nullptr);
        INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
        ::InitCommonControlsEx(&controls);
    }
    static void TearDownTestSuite() { Gdiplus::GdiplusShutdown(gdiplus_); }

    testing::TempDir dir;
    std::string package = testing::buildZip({
        {.name = "TalvoPC/talvo.exe", .data = testing::readBytes(STANDIN_GAME_EXE)},
        {.name = "TalvoPC/talvo_Data/level0", .data = "level"},
        {.name = "TalvoPC/UnityPlayer.dll", .data = testing::readBytes(STANDIN_UNITY_PLAYER_DLL)},
    });
    LoopbackHttpServer packages{
        packagePort, [this](Exchange& exchange) { exchange.send(testing::httpResponse(200, package)); }};
    LoopbackHttpServer logins{
        lanLoginPort, [](Exchange& exchange) {
            exchange.send(testing::httpResponse(
                200, R"({"code":1,"data":{"userid":"10086","token":"tok","game_id":"7"}})"));
        }};
    std::unique_ptr<LauncherWindow> state;

    void SetUp() override {
        LauncherConfig config{json::parse(loadResourceBytes(builtinConfigResourceId)), dir / L"Launcher"};
        auto& settings = config.document["clientPackage"];
        settings["downloadUrl"] =
            "http://" + std::string(packageHostUtf8) + "/K3ClientRes/exe/TalvoPC/t/TalvoPC.zip";
        settings["sha256"] = sha256Hex(package.data(), package.size());
        settings["executablePath"] = "TalvoPC/talvo.exe";
        fs::create_directories(dir / L"Launcher");
        state = std::make_unique<LauncherWindow>(std::move(config));
        createLauncherWindow(*state, ::GetModuleHandleW(nullptr));
        ::ShowWindow(state->window, SW_SHOW);
    }

    void TearDown() override {
        if (const DWORD id = state->gameProcessId.load()) {
            const UniqueKernelHandle game{::OpenProcess(PROCESS_TERMINATE, FALSE, id)};
            if (game) ::TerminateProcess(game.get(), 0);
        }
        if (::IsWindow(state->window)) closeLauncher(*state);
        state.reset();
    }

    // Runs the window's messages until `done` holds or `seconds` pass.
    bool pumpUntil(const std::function<bool()>& done, int seconds = 20) {
        const ULONGLONG deadline = ::GetTickCount64() + seconds * 1000ull;
        while (!done() && ::GetTickCount64() < deadline) {
            MSG message;
            while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                ::TranslateMessage(&message);
                ::DispatchMessageW(&message);
            }
            ::Sleep(10);
        }
        return done();
    }

    void click(int id) { ::SendMessageW(state->window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }

    static ULONG_PTR gdiplus_;
};
ULONG_PTR LauncherFlow::gdiplus_ = 0;

TEST_F(LauncherFlow, FirstRunDownloadsWithoutAClickAndThenSignsInAndStartsTheGame) {
    // No click: the check finds no client and the download starts by itself.
    ASSERT_TRUE(pumpUntil([&] { return state->clientReady; }))
        << testing::narrow(state->statusText) << " / " << testing::narrow(state->progressCaption);
    EXPECT_EQ(packages.requests().size(), 1u);
    EXPECT_EQ(state->statusText, L"游戏下载完成，请点击进入游戏。");
    EXPECT_EQ(state->statusKind, 2);
    EXPECT_EQ(state->progressCaption, L"客户端下载完成");
    EXPECT_FALSE(::IsWindowVisible(state->cancelDownloadButton));
    EXPECT_FALSE(::IsWindowVisible(state->progressBar));

    // A blank account is refused with focus on the account edit.
    ::SetWindowTextW(state->accountEdit, L"   ");
    ::SetWindowTextW(state->passwordEdit, L"secret");
    click(enterGameButtonId);
    EXPECT_EQ(state->statusText, L"请输入账号和密码。");
    EXPECT_EQ(state->statusKind, 1);
    EXPECT_EQ(::GetFocus(), state->accountEdit);

    ::SetWindowTextW(state->accountEdit, L"player one");
    click(enterGameButtonId);
    EXPECT_TRUE(state->loginBusy);
    EXPECT_FALSE(::IsWindowEnabled(state->enterGameButton));
    ASSERT_TRUE(pumpUntil([&] { return !::IsWindow(state->window); }))
        << "the launcher closes once the game runs";
    EXPECT_NE(state->gameProcessId.load(), 0u);
    const json started = json::parse(
        testing::readBytes(dir / L"Launcher" / L"GameClient" / L"TalvoPC" / L"standin-record.json"));
    EXPECT_EQ(started["arguments"].back(), "token:tok");
    EXPECT_EQ(logins.requests().at(0).target,
              "/api/GameLoginLog/GetUidTalvo?username=player%20one&password=secret");
}

} // namespace
} // namespace launcher
