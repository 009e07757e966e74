// The launcher window as a player meets it: the real window procedure and flow, driven by the
// messages clicks and keys produce, against the loopback package and login services and the
// stand-in game.
#include "config/deployment.h"
#include "foundation/diagnostic_log.h"
#include "foundation/file_io.h"
#include "foundation/resources.h"
#include "foundation/text.h"
#include "net/sha256_hash.h"
#include "support/loopback_http_server.h"
#include "support/test_support.h"
#include "support/zip_writer.h"
#include "ui/window_procedure.h"
#include "ui/launcher_flow.h"
#include "update/accepted_sequence.h"
#include "update/signed_manifest.h"
#include "update/update_manifest.h"
#include "update/update_signature.h"

#include "accessibility_reader.h"
#include "window_test_platform.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <atomic>
#include <functional>
#include <future>
#include <thread>

namespace launcher {
namespace {

using nlohmann::json;
using testing::Exchange;
using testing::LoopbackHttpServer;
namespace fs = std::filesystem;

// Runs `action`, which opens one information box, and returns the box's text (closing it), or "".
// The text is read as a screen reader reads it: the box must be the system's, its text a control.
std::wstring textOfBoxOpenedBy(const std::function<void()>& action) {
    std::wstring seen;
    std::atomic<bool> returned{false};
    std::thread watcher([&] {
        const struct Apartment {
            Apartment() { ::CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
            ~Apartment() { ::CoUninitialize(); }
        } apartment;
        for (int i = 0; i < 300 && !returned; ++i) {
            if (HWND box = ::FindWindowW(L"#32770", L"曜石纪元 · 启动器")) {
                // The box's text control is 0xFFFF on Windows and 100 under Wine.
                HWND text = ::GetDlgItem(box, 0xFFFF);
                if (text == nullptr) text = ::GetDlgItem(box, 100);
                const std::wstring read = testing::readAccessible(text, OBJID_CLIENT).name;
                if (read.empty()) { // still being filled in
                    ::Sleep(20);
                    continue;
                }
                seen = read;
                ::PostMessageW(box, WM_COMMAND, IDOK, 0);
                return;
            }
            ::Sleep(20);
        }
    });
    action();
    returned = true;
    watcher.join();
    return seen;
}

class LauncherFlow : public ::testing::Test {
protected:
    static void SetUpTestSuite() { platform_ = std::make_unique<testing::WindowPlatform>(); }
    static void TearDownTestSuite() { platform_.reset(); }

    testing::TempDir dir;
    std::string package = testing::buildZip({
        {.name = "TalvoPC/talvo.exe", .data = testing::readBytes(STANDIN_GAME_EXE)},
        {.name = "TalvoPC/talvo_Data/level0", .data = "level"},
        {.name = "TalvoPC/UnityPlayer.dll", .data = testing::readBytes(STANDIN_UNITY_PLAYER_DLL)},
    });
    std::function<void(Exchange&)> servePackage = [this](Exchange& exchange) {
        exchange.send(testing::httpResponse(200, package));
    };
    std::string loginReply = R"({"code":1,"data":{"userid":"10086","token":"tok","game_id":"7"}})";
    LoopbackHttpServer packages{packagePort, [this](Exchange& exchange) { servePackage(exchange); }};
    LoopbackHttpServer logins{
        lanLoginPort, [this](Exchange& exchange) { exchange.send(testing::httpResponse(200, loginReply)); }};
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
        if (opensAtSetUp) openWindow();
    }

    // Creating the window starts the client check.
    void openWindow() {
        createLauncherWindow(*state, ::GetModuleHandleW(nullptr));
        ::ShowWindow(state->window, SW_SHOW);
        state->accessible.connect(); // as the launcher does after its first frame
    }
    bool opensAtSetUp = true;

    void TearDown() override {
        if (!state) return;
        if (const DWORD id = state->session.gameProcessId().load()) {
            const UniqueKernelHandle game{::OpenProcess(PROCESS_TERMINATE, FALSE, id)};
            if (game) ::TerminateProcess(game.get(), 0);
        }
        if (::IsWindow(state->window)) closeLauncher(*state);
        state.reset();
    }

    // Runs the window's messages through the launcher's own loop step until `done` holds or
    // `seconds` pass.
    bool pumpUntil(const std::function<bool()>& done, int seconds = 20) {
        const ULONGLONG deadline = ::GetTickCount64() + seconds * 1000ull;
        while (!done() && ::GetTickCount64() < deadline) {
            MSG message;
            while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
                dispatchLauncherMessage(*state, message);
            ::Sleep(10);
        }
        return done();
    }

    void click(int id) { ::SendMessageW(state->window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }

    // Clicks and returns the text of the information box the click opened (closing it), or "".
    std::wstring clickExpectingBox(int id) {
        return textOfBoxOpenedBy([&] { click(id); });
    }

    // Types `text` and presses Enter: the keys reach the window that has the keyboard focus and go
    // through the launcher's own loop.
    void typeAndPressEnter(const std::wstring& text) {
        for (wchar_t character : text)
            ::PostMessageW(::GetFocus(), WM_CHAR, character, 1);
        ::PostMessageW(::GetFocus(), WM_KEYDOWN, VK_RETURN, 1);
    }

    // The client is installed: the player may sign in, or is signing in.
    bool clientReady() const {
        const Phase phase = state->session.view().phase;
        return phase == Phase::ready || phase == Phase::loggingIn || phase == Phase::launching;
    }

    void reachReady() {
        ASSERT_TRUE(pumpUntil([&] { return clientReady(); }))
            << testing::narrow(state->session.view().status) << " / "
            << testing::narrow(state->session.view().caption);
    }

    static std::unique_ptr<testing::WindowPlatform> platform_;
};
std::unique_ptr<testing::WindowPlatform> LauncherFlow::platform_;

TEST_F(LauncherFlow, FirstRunDownloadsWithoutAClickAndThenSignsInAndStartsTheGame) {
    // No click: the check finds no client and the download starts by itself.
    ASSERT_TRUE(pumpUntil([&] { return clientReady(); }))
        << testing::narrow(state->session.view().status) << " / "
        << testing::narrow(state->session.view().caption);
    EXPECT_EQ(packages.requests().size(), 1u);
    EXPECT_EQ(state->session.view().status, L"游戏下载完成，请点击进入游戏。");
    EXPECT_EQ(state->session.view().statusKind, StatusKind::success);
    EXPECT_EQ(state->session.view().caption, L"客户端下载完成");
    EXPECT_FALSE(::IsWindowVisible(state->cancelDownloadButton));
    EXPECT_FALSE(::IsWindowVisible(state->progressBar));

    // A blank account is refused with focus on the account edit.
    ::SetWindowTextW(state->accountEdit, L"   ");
    ::SetWindowTextW(state->passwordEdit, L"secret");
    click(enterGameButtonId);
    EXPECT_EQ(state->session.view().status, L"请输入账号和密码。");
    EXPECT_EQ(state->session.view().statusKind, StatusKind::error);
    EXPECT_EQ(::GetFocus(), state->accountEdit);

    ::SetWindowTextW(state->accountEdit, L"player one");
    click(enterGameButtonId);
    EXPECT_FALSE(state->session.view().formEnabled);
    EXPECT_FALSE(::IsWindowEnabled(state->enterGameButton));
    ASSERT_TRUE(pumpUntil([&] { return !::IsWindow(state->window); }))
        << "the launcher closes once the game runs";
    EXPECT_NE(state->session.gameProcessId().load(), 0u);
    const json started = json::parse(
        testing::readBytes(dir / L"Launcher" / L"GameClient" / L"TalvoPC" / L"standin-record.json"));
    EXPECT_EQ(started["arguments"].back(), "token:tok");
    EXPECT_EQ(logins.requests().at(0).target,
              "/api/GameLoginLog/GetUidTalvo?username=player%20one&password=secret");
}

TEST_F(LauncherFlow, EnterInAnEditBoxSignsInThroughTheMessageLoop) {
    reachReady();
    ::SetWindowTextW(state->accountEdit, L"player");
    ::SetWindowTextW(state->passwordEdit, L"secret");
    ::PostMessageW(state->passwordEdit, WM_KEYDOWN, VK_RETURN, 0);
    // If Enter did nothing the loop would never end; close the window after a while instead.
    std::promise<void> finished;
    std::thread guard([&, done = finished.get_future(), window = state->window]() mutable {
        if (done.wait_for(std::chrono::seconds(30)) == std::future_status::timeout)
            ::PostMessageW(window, WM_CLOSE, 0, 0);
    });
    runMessageLoop(*state);
    finished.set_value();
    guard.join();
    EXPECT_EQ(logins.requests().size(), 1u);
    EXPECT_NE(state->session.gameProcessId().load(), 0u) << "the game was started and the launcher closed";
}

TEST_F(LauncherFlow, PasswordIsEmptiedOnceTheLoginIsAccepted) {
    reachReady();
    // The stand-in shows its window late, so the launcher is seen between login and game.
    testing::writeBytes(dir / L"Launcher" / L"GameClient" / L"TalvoPC" / L"standin-game.txt", "window:1500");
    ::SetWindowTextW(state->accountEdit, L"player");
    ::SetWindowTextW(state->passwordEdit, L"secret");
    click(enterGameButtonId);
    ASSERT_TRUE(pumpUntil([&] { return state->session.view().status == L"账号验证通过，正在启动游戏…"; }))
        << testing::narrow(state->session.view().status);
    EXPECT_EQ(::GetWindowTextLengthW(state->passwordEdit), 0);
    EXPECT_EQ(state->session.view().statusKind, StatusKind::success);
    wchar_t account[32] = {};
    ::GetWindowTextW(state->accountEdit, account, 32);
    EXPECT_STREQ(account, L"player");
    EXPECT_TRUE(pumpUntil([&] { return !::IsWindow(state->window); }));
}

TEST_F(LauncherFlow, TabAndShiftTabMoveThroughTheControlsInOrder) {
    const HWND order[] = {state->accountEdit,
                          state->passwordEdit,
                          state->showPasswordButton,
                          state->rememberCheck,
                          state->enterGameButton,
                          ::GetDlgItem(state->window, registerButtonId),
                          ::GetDlgItem(state->window, minimiseButtonId),
                          ::GetDlgItem(state->window, closeButtonId),
                          state->accountEdit}; // the hidden cancel button is skipped
    auto pressTab = [&](bool shift) {
        BYTE keys[256] = {};
        ::GetKeyboardState(keys);
        keys[VK_SHIFT] = shift ? 0x80 : 0;
        ::SetKeyboardState(keys);
        MSG message{::GetFocus(), WM_KEYDOWN, VK_TAB, 0};
        dispatchLauncherMessage(*state, message);
    };
    ::SetForegroundWindow(state->window);
    ::SetFocus(state->accountEdit);
    for (std::size_t i = 1; i < std::size(order); ++i) {
        pressTab(false);
        EXPECT_EQ(::GetFocus(), order[i]) << "Tab number " << i;
    }
    for (std::size_t i = std::size(order) - 1; i-- > 0;) {
        pressTab(true);
        EXPECT_EQ(::GetFocus(), order[i]) << "Shift+Tab back to control " << i;
    }
    pressTab(false);
}

// Without a mouse: Enter and Space press the focused button, and Alt+F4 closes the launcher as its
// close button does.
TEST_F(LauncherFlow, EnterAndSpacePressTheFocusedButtonAndAltF4Closes) {
    reachReady();
    ::SetForegroundWindow(state->window);
    const auto press = [&](HWND control, UINT down, UINT up, WPARAM key, LPARAM flags) {
        ::PostMessageW(control, down, key, flags | 1);
        ::PostMessageW(control, up, key, flags | 0xC0000001);
    };
    ::SetFocus(state->showPasswordButton);
    press(state->showPasswordButton, WM_KEYDOWN, WM_KEYUP, VK_RETURN, 0);
    EXPECT_TRUE(pumpUntil([&] { return state->passwordVisible; }, 5)) << "Enter";
    press(state->showPasswordButton, WM_KEYDOWN, WM_KEYUP, VK_SPACE, 0);
    EXPECT_TRUE(pumpUntil([&] { return !state->passwordVisible; }, 5)) << "Space";
    constexpr LPARAM altDown = 0x20000000;
    press(state->accountEdit, WM_SYSKEYDOWN, WM_SYSKEYUP, VK_F4, altDown);
    EXPECT_TRUE(pumpUntil([&] { return !::IsWindow(state->window); }, 5)) << "Alt+F4";
}

TEST_F(LauncherFlow, RegistrationPageThatCannotBeOpenedIsExplained) {
    EXPECT_EQ(state->registrationPage, L"https://" + std::wstring(registrationHost) + L"/register.aspx");
    // No browser is registered for this scheme, so the shell cannot open it.
    state->registrationPage = L"gatehouse-no-such-scheme://register.aspx";
    EXPECT_EQ(clickExpectingBox(registerButtonId), L"无法打开系统默认浏览器，请检查默认浏览器设置后重试。");
}

TEST_F(LauncherFlow, EnterGameWhileCheckingOrDownloadingOnlyExplains) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    servePackage = [&, released](Exchange& exchange) {
        released.wait();
        exchange.send(testing::httpResponse(200, package));
    };
    // The box's own message loop lets the check finish, so the download may already run after it.
    EXPECT_EQ(clickExpectingBox(enterGameButtonId), L"正在检查游戏客户端，请稍后重试。");
    ASSERT_TRUE(pumpUntil([&] { return state->session.view().phase == Phase::downloading; }));
    ::SetFocus(state->passwordEdit);
    MSG enter{state->passwordEdit, WM_KEYDOWN, VK_RETURN, 1};
    EXPECT_EQ(textOfBoxOpenedBy([&] { dispatchLauncherMessage(*state, enter); }),
              L"游戏正在下载，下载完成后重试。");
    EXPECT_EQ(::GetFocus(), state->passwordEdit) << "the box hands the keyboard back to the edit";
    EXPECT_EQ(state->session.view().status, L"游戏正在下载，完成后点击进入游戏。");
    release.set_value();
    reachReady();
}

TEST_F(LauncherFlow, CancelledDownloadIsReportedAndTheNextClickStartsAFreshOne) {
    std::atomic<bool> stall{true};
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    const std::size_t half = package.size() / 2;
    servePackage = [&, released](Exchange& exchange) {
        if (!stall) released.wait(); // the new download reports nothing until released
        exchange.send(testing::httpHead(200, static_cast<long long>(package.size())) +
                      package.substr(0, half));
        if (stall) {
            // A pause past the engine's report interval, so the next byte is reported at once.
            exchange.waitForStop(300);
            exchange.send(package.substr(half, 1));
            exchange.waitForStop(3000); // Wine does not wake a blocked read when it is cancelled
        } else {
            exchange.send(package.substr(half));
        }
    };
    ASSERT_TRUE(pumpUntil([&] { return ::SendMessageW(state->progressBar, PBM_GETPOS, 0, 0) >= 40; }))
        << testing::narrow(state->session.view().caption);
    EXPECT_NE(state->session.view().caption.find(L"%"), std::wstring::npos)
        << testing::narrow(state->session.view().caption);
    ::SetForegroundWindow(state->window);
    ::SetFocus(state->cancelDownloadButton); // a keyboard user's press
    click(cancelDownloadButtonId);
    EXPECT_FALSE(::IsWindowEnabled(state->cancelDownloadButton));
    EXPECT_EQ(::GetFocus(), state->accountEdit) << "the keyboard is not left on a disabled button";
    ASSERT_TRUE(pumpUntil([&] { return state->session.view().phase != Phase::downloading; }));
    EXPECT_EQ(state->session.view().caption, L"下载已取消，点击进入游戏可重新下载。");
    EXPECT_EQ(state->session.view().status, L"游戏尚未就绪，点击进入游戏可重试。");
    EXPECT_EQ(state->session.view().statusKind, StatusKind::error);

    stall = false;
    EXPECT_EQ(clickExpectingBox(enterGameButtonId), L"游戏正在下载，下载完成后重试。");
    EXPECT_TRUE(state->session.view().phase == Phase::downloading);
    // A cancelled token would end the new download at once: it reaches ready below.
    EXPECT_TRUE(::IsWindowEnabled(state->cancelDownloadButton));
    EXPECT_EQ(::SendMessageW(state->progressBar, PBM_GETPOS, 0, 0), 0) << "the new download starts at 0";
    release.set_value();
    reachReady();
}

TEST_F(LauncherFlow, ProgressWithoutATotalRunsAMarqueeAndShowsWhatArrived) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    servePackage = [&, released](Exchange& exchange) {
        exchange.send(testing::httpHead(200, -1) + package.substr(0, 300000));
        released.wait();
        exchange.send(package.substr(300000));
    };
    ASSERT_TRUE(pumpUntil([&] {
        return state->session.view().caption.find(L"已下载") != std::wstring::npos;
    })) << testing::narrow(state->session.view().caption);
    EXPECT_TRUE(::GetWindowLongPtrW(state->progressBar, GWL_STYLE) & PBS_MARQUEE);
    EXPECT_EQ(state->session.view().caption.find(L"%"), std::wstring::npos);
    release.set_value();
    reachReady();
}

TEST_F(LauncherFlow, RunningGameBlocksASecondLogin) {
    reachReady();
    // Any process of ours that keeps running stands in for a game started earlier.
    STARTUPINFOW startup{sizeof(startup)};
    PROCESS_INFORMATION created{};
    std::wstring commandLine = L"\"" + std::wstring(STANDIN_GAME_EXE) + L"\" --standin=invisible";
    ASSERT_TRUE(::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                 &startup, &created));
    const UniqueKernelHandle process{created.hProcess};
    const UniqueKernelHandle thread{created.hThread};
    state->session.gameProcessId() = created.dwProcessId;
    ::SetWindowTextW(state->accountEdit, L"player");
    ::SetWindowTextW(state->passwordEdit, L"secret");
    EXPECT_EQ(clickExpectingBox(enterGameButtonId), L"游戏正在运行，请先关闭游戏后再登录。");
    EXPECT_TRUE(state->session.view().formEnabled);
    ::TerminateProcess(process.get(), 0);
    ::WaitForSingleObject(process.get(), 5000);
    state->session.gameProcessId() = 0; // nothing for TearDown to end
}

TEST_F(LauncherFlow, RememberedAccountFollowsTheTypingAfterAPause) {
    reachReady();
    forgetCredentials(state->credentials); // whatever an earlier run left for this login address
    ::SendMessageW(state->rememberCheck, BM_SETCHECK, BST_CHECKED, 0);
    ::SetWindowTextW(state->accountEdit, L"player");
    ::SetWindowTextW(state->passwordEdit, L"secret");
    std::wstring account, password;
    EXPECT_FALSE(loadCredentials(state->credentials, account, password)) << "nothing saved before the pause";
    ASSERT_TRUE(pumpUntil([&] { return loadCredentials(state->credentials, account, password); }, 5));
    EXPECT_EQ(account, L"player");
    EXPECT_EQ(password, L"secret");

    ::SendMessageW(state->rememberCheck, BM_SETCHECK, BST_UNCHECKED, 0);
    ::SetWindowTextW(state->passwordEdit, L"secret2");
    EXPECT_TRUE(pumpUntil([&] { return !loadCredentials(state->credentials, account, password); }, 5))
        << "an unticked box keeps the stored file deleted";
}

TEST_F(LauncherFlow, RememberBoxNeedsACompleteForm) {
    reachReady();
    ::SetWindowTextW(state->accountEdit, L"player");
    ::SendMessageW(state->rememberCheck, BM_SETCHECK, BST_CHECKED, 0);
    EXPECT_EQ(clickExpectingBox(rememberCheckId), L"请输入账号和密码后再勾选记住账号密码。");
    EXPECT_EQ(::SendMessageW(state->rememberCheck, BM_GETCHECK, 0, 0), BST_UNCHECKED);
}

TEST_F(LauncherFlow, FailedLoginEnablesTheFormAgain) {
    reachReady();
    loginReply = R"({"code":0,"msg":"Player 密码错误"})";
    ::SetWindowTextW(state->accountEdit, L"player");
    ::SetWindowTextW(state->passwordEdit, L"wrong");
    {
        const DiagnosticLog log(dir / L"Logs");
        click(enterGameButtonId);
        ASSERT_TRUE(pumpUntil([&] { return state->session.view().formEnabled; }));
    }
    EXPECT_EQ(state->session.view().status, L"登录失败：Player 密码错误");
    // The player sees what the service said; support's log never sees the account it echoed.
    const std::string log = testing::readBytes(dir / L"Logs" / L"launcher.log");
    EXPECT_NE(log.find("登录失败：<account> 密码错误"), std::string::npos) << log;
    EXPECT_EQ(log.find("Player"), std::string::npos) << log;
    EXPECT_EQ(state->session.view().statusKind, StatusKind::error);
    for (HWND control : {state->enterGameButton, state->accountEdit, state->passwordEdit,
                         state->showPasswordButton, state->rememberCheck})
        EXPECT_TRUE(::IsWindowEnabled(control));
    EXPECT_TRUE(clientReady());

    // Without a click, the player's next keys land in the password edit and Enter tries again.
    typeAndPressEnter(L"2");
    ASSERT_TRUE(pumpUntil([&] { return logins.requests().size() == 2; }));
    EXPECT_NE(logins.requests()[1].target.find("2"), std::string::npos) << logins.requests()[1].target;
}

TEST_F(LauncherFlow, ClientThatNoLongerVerifiesMustBeDownloadedAgain) {
    reachReady();
    fs::remove(dir / L"Launcher" / L"GameClient" / L"TalvoPC" / L"talvo_Data" / L"level0");
    ::SetWindowTextW(state->accountEdit, L"player");
    ::SetWindowTextW(state->passwordEdit, L"secret");
    click(enterGameButtonId);
    ASSERT_TRUE(pumpUntil([&] { return state->session.view().formEnabled; }));
    EXPECT_EQ(state->session.view().status, L"客户端文件不完整，请重新下载。");
    EXPECT_FALSE(clientReady());
    EXPECT_EQ(logins.requests().size(), 0u);
}

TEST_F(LauncherFlow, LoopEndedFromOutsideTakesTheWindowAlongWithItsState) {
    reachReady();
    // A quit posted by another program ends the loop while the window still exists.
    std::thread([thread = ::GetCurrentThreadId()] { ::PostThreadMessageW(thread, WM_QUIT, 0, 0); }).join();
    runMessageLoop(*state);
    const HWND window = state->window;
    ASSERT_TRUE(::IsWindow(window));
    state.reset();
    EXPECT_FALSE(::IsWindow(window)) << "no window may be left pointing at the freed state";
}

TEST_F(LauncherFlow, ClosingDuringADownloadEndsAtOnce) {
    servePackage = [&](Exchange& exchange) {
        exchange.send(testing::httpHead(200, static_cast<long long>(package.size())));
        exchange.waitForStop(3000);
    };
    ASSERT_TRUE(pumpUntil([&] { return state->session.view().phase == Phase::downloading; }));
    ::SendMessageW(state->window, WM_CLOSE, 0, 0);
    EXPECT_FALSE(::IsWindow(state->window));
    EXPECT_FALSE(state->session.hasWorkers());
    EXPECT_FALSE(fs::exists(dir / L"Launcher" / L"GameClient"));
}

// What an accessibility client hears while the launcher works: each live-region event, with the
// name the launcher gave the control it came from (Wine's proxies read no annotations).
struct Heard {
    int control;
    std::wstring text;
};
std::vector<Heard>* heardEvents = nullptr;
const LauncherWindow* heardWindow = nullptr;

void CALLBACK onLiveRegionChanged(HWINEVENTHOOK, DWORD, HWND control, LONG object, LONG child, DWORD, DWORD) {
    if (heardEvents != nullptr && object == OBJID_CLIENT && child == CHILDID_SELF)
        heardEvents->push_back(
            {::GetDlgCtrlID(control), heardWindow->accessible.nameGivenForTesting(control)});
}

struct WinEventHookTraits {
    using Handle = HWINEVENTHOOK;
    static Handle none() noexcept { return nullptr; }
    static bool valid(Handle h) noexcept { return h != nullptr; }
    static void close(Handle h) noexcept { ::UnhookWinEvent(h); }
};

class HeardLauncherFlow : public LauncherFlow {
protected:
    HeardLauncherFlow() { opensAtSetUp = false; }
};

// A first run as a screen-reader user hears it, through a real event hook: the check, the download
// by its steps at most once per 10%, the client ready, a refused password and the game starting.
TEST_F(HeardLauncherFlow, AScreenReaderHearsTheWholeJobWithoutAFloodOfPercentages) {
    servePackage = [this](Exchange& exchange) { // paced, so that the download has steps to hear
        exchange.send(testing::httpHead(200, static_cast<long long>(package.size())));
        const std::size_t piece = package.size() / 12 + 1;
        for (std::size_t sent = 0; sent < package.size(); sent += piece) {
            exchange.send(std::string_view(package).substr(sent, piece));
            ::Sleep(40);
        }
    };
    std::vector<Heard> heard;
    heardEvents = &heard;
    heardWindow = state.get();
    const Unique<WinEventHookTraits> hook{::SetWinEventHook(
        0x8019, 0x8019, nullptr, onLiveRegionChanged, ::GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT)};
    ASSERT_TRUE(hook);
    openWindow();
    reachReady();
    ::SetWindowTextW(state->accountEdit, L"player");
    ::SetWindowTextW(state->passwordEdit, L"wrong");
    loginReply = R"({"code":0,"msg":"密码错误"})";
    click(enterGameButtonId);
    ASSERT_TRUE(pumpUntil([&] { return state->session.view().formEnabled; }));
    loginReply = R"({"code":1,"data":{"userid":"10086","token":"tok","game_id":"7"}})";
    ::SetWindowTextW(state->passwordEdit, L"secret");
    click(enterGameButtonId);
    ASSERT_TRUE(pumpUntil([&] { return !::IsWindow(state->window); }));
    heardEvents = nullptr;

    std::vector<std::wstring> status;
    std::vector<std::wstring> progress;
    for (const Heard& event : heard)
        (event.control == statusLabelId ? status : progress).push_back(event.text);
    EXPECT_EQ(status, (std::vector<std::wstring>{
                          L"正在检查客户端…请输入账号和密码", L"游戏正在下载，完成后点击进入游戏。",
                          L"客户端下载完成。游戏下载完成，请点击进入游戏。", L"正在验证账号，请稍候…",
                          L"登录失败：密码错误", L"正在验证账号，请稍候…", L"账号验证通过，正在启动游戏…",
                          L"游戏已启动"}));
    // The bar: its first words, then each step's label, with its tenth when it counts, rising
    // within a label.
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.front(), L"正在准备下载…");
    std::wstring label;
    int last = -1, downloadSteps = 0;
    for (std::size_t i = 1; i < progress.size(); ++i) {
        const std::wstring& said = progress[i];
        const std::size_t space = said.back() == L'%' ? said.rfind(L' ') : std::wstring::npos;
        if (said.substr(0, space) != label) last = -1;
        label = said.substr(0, space);
        if (space == std::wstring::npos) continue;
        const int percent = std::stoi(said.substr(space + 1));
        EXPECT_EQ(said.substr(space), L" " + std::to_wstring(percent) + L"%");
        EXPECT_EQ(percent % 10, 0) << testing::narrow(said);
        EXPECT_GT(percent, last) << testing::narrow(said);
        last = percent;
        downloadSteps += label == L"正在下载客户端";
    }
    EXPECT_GE(downloadSteps, 2);
    EXPECT_LE(downloadSteps, 11);
}

// Windows ends a window whose WM_CREATE failed with WM_DESTROY; Wine destroys it without one. This
// hook plays Windows' part for the launcher window, whose creation fails in the test below.
LRESULT CALLBACK destroyLikeWindows(int code, WPARAM wParam, LPARAM lParam) {
    const auto* call = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    wchar_t name[64] = {};
    if (code == HC_ACTION && call->message == WM_CREATE && ::GetClassNameW(call->hwnd, name, 64) &&
        std::wstring_view(name) == L"PCtalvoNativeLauncher")
        ::SendMessageW(call->hwnd, WM_DESTROY, 0, 0);
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

struct HookTraits {
    using Handle = HHOOK;
    static Handle none() noexcept { return nullptr; }
    static bool valid(Handle h) noexcept { return h != nullptr; }
    static void close(Handle h) noexcept { ::UnhookWindowsHookEx(h); }
};

// A quit left queued by the failed window would close the start-up error box the moment it opens.
TEST(LauncherWindowCreation, FailureLeavesNoQuitMessageThatWouldCloseTheErrorBox) {
    testing::TempDir dir;
    LauncherWindow state{
        LauncherConfig{json::parse(loadResourceBytes(builtinConfigResourceId)), dir / L"Launcher"}};
    state.skinResourceForTesting = 0x7FFF; // no such resource
    const Unique<HookTraits> hook{
        ::SetWindowsHookExW(WH_CALLWNDPROCRET, destroyLikeWindows, nullptr, ::GetCurrentThreadId())};
    ASSERT_TRUE(hook);
    std::string failure;
    EXPECT_EQ(textOfBoxOpenedBy([&] {
                  failure =
                      testing::failureOf([&] { createLauncherWindow(state, ::GetModuleHandleW(nullptr)); });
              }),
              L"启动器资源不完整。");
    EXPECT_EQ(failure, "无法创建启动器窗口。");
    MSG quit;
    EXPECT_FALSE(::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

// The launcher following the operator's signed update manifest, served beside the packages.
class UpdateFlow : public LauncherFlow {
protected:
    UpdateFlow() { opensAtSetUp = false; }

    static const UpdateSigningKey& key() {
        static const UpdateSigningKey made = generateUpdateSigningKey();
        return made;
    }
    static std::string packageUrl(const char* path) {
        return "http://" + std::string(packageHostUtf8) + "/K3ClientRes/exe/TalvoPC/" + path;
    }

    std::string package2 = testing::buildZip({
        {.name = "TalvoPC/talvo.exe", .data = testing::readBytes(STANDIN_GAME_EXE)},
        {.name = "TalvoPC/talvo_Data/level0", .data = "level"},
        {.name = "TalvoPC/talvo_Data/level2", .data = "only in version 2"},
        {.name = "TalvoPC/UnityPlayer.dll", .data = testing::readBytes(STANDIN_UNITY_PLAYER_DLL)},
    });
    std::string manifest, signature; // what the server answers; set before the window opens
    std::optional<LauncherConfig> configured;

    void SetUp() override {
        LauncherFlow::SetUp();
        configured = state->session.config();
        state->selfUpdate.channel = {multiByteToUtf16(packageUrl("update/manifest.signed"), codePageUtf8),
                                     {key().publicKeyHex},
                                     dir / L"Updates",
                                     sequenceKey()};
        servePackage = [this](Exchange& exchange) {
            const std::string& target = exchange.request.target;
            const std::string body =
                target.ends_with("manifest.signed")
                    ? (manifest.empty() ? "" : makeManifestEnvelope({manifest, signature}))
                : target.ends_with("v2/TalvoPC.zip") ? package2
                                                     : package;
            exchange.send(testing::httpResponse(body.empty() ? 404 : 200, body));
        };
    }

    void TearDown() override {
        LauncherFlow::TearDown();
        ::RegDeleteTreeW(HKEY_CURRENT_USER, sequenceKey().c_str());
    }
    // A registry key of this test's own, so no other run's accepted sequence counts here.
    std::wstring sequenceKey() const {
        return L"Software\\K3Gatehouse\\Tests\\" + dir.path().filename().native();
    }

    // A signed manifest offering version 2 of the client, and a launcher build if given.
    std::pair<std::string, std::string> signedManifest(std::uint64_t sequence, std::int64_t expires,
                                                       const std::string& offered, const char* version,
                                                       std::optional<LauncherRelease> launcher = {}) {
        const UpdateManifest made{
            .sequence = sequence,
            .expires = expires,
            .clientPackage = {{"downloadUrl",
                               packageUrl(offered == package2 ? "v2/TalvoPC.zip" : "t/TalvoPC.zip")},
                              {"sha256", sha256Hex(offered.data(), offered.size())},
                              {"version", version}},
            .launcher = std::move(launcher)};
        const std::string bytes = serializeUpdateManifest(made);
        return {bytes, signUpdateMessage(key(), bytes)};
    }
    void publish(std::uint64_t sequence, std::int64_t expires = currentUtcSeconds() + 86400) {
        std::tie(manifest, signature) = signedManifest(sequence, expires, package2, "2");
    }

    // This launcher calls itself 1.0.0 and runs from the test's folder; the manifest offers 9.0.0,
    // served a byte at a time until the test ends.
    const std::string runningBuild = "MZ running build";
    void offerTricklingLauncherBuild() {
        state->selfUpdate.version = "1.0.0";
        state->selfUpdate.executable = dir / L"Launcher" / L"Gatehouse.exe";
        state->selfUpdate.workingDirectory = dir / L"Launcher";
        testing::writeBytes(state->selfUpdate.executable, runningBuild);
        const std::string build = "MZ next build" + std::string(4096, 'n');
        std::tie(manifest, signature) = signedManifest(
            1, currentUtcSeconds() + 86400, package2, "2",
            LauncherRelease{"9.0.0", packageUrl("up/Gatehouse.exe"), sha256Hex(build.data(), build.size())});
        const auto serve = servePackage;
        servePackage = [this, serve, build](Exchange& exchange) {
            if (!exchange.request.target.ends_with("up/Gatehouse.exe")) return serve(exchange);
            exchange.send(testing::httpHead(200, static_cast<long long>(build.size())));
            for (std::size_t sent = 0; sent < build.size() && !stopTrickle && !exchange.waitForStop(150);
                 ++sent)
                exchange.send(build.substr(sent, 1));
        };
    }
    // The server answers one request at a time: the trickle must end before the client is served.
    std::atomic<bool> stopTrickle{false};
    // The launcher's own build is as it was, and no download of the new one is left beside it.
    void expectRunningBuildKept() {
        EXPECT_EQ(testing::readBytes(state->selfUpdate.executable), runningBuild);
        EXPECT_FALSE(fs::exists(state->selfUpdate.executable.native() + L".new"));
        EXPECT_FALSE(fs::exists(state->selfUpdate.executable.native() + L".old"));
    }

    // Opens the window and waits for the client check and any download to end.
    std::string installedVersion() {
        openWindow();
        reachReady();
        return state->session.config().document["clientPackage"].value("version", std::string());
    }
    bool fetched(const std::string& ending) {
        for (const auto& request : packages.requests())
            if (request.target.ends_with(ending)) return true;
        return false;
    }
};

TEST_F(UpdateFlow, PublishedVersionIsInstalledWithoutANewConfigurationAndKeptWhenTheServerFallsSilent) {
    publish(1);
    EXPECT_EQ(installedVersion(), "2");
    EXPECT_TRUE(fs::exists(dir / L"Launcher" / L"GameClient" / L"TalvoPC" / L"talvo_Data" / L"level2"));
    EXPECT_TRUE(fs::exists(storedManifestPathForTesting(state->selfUpdate.channel, key().publicKeyHex)));

    // The next run finds an update server that accepts and never answers: the check gives up well
    // within the player's patience, and the accepted version stays installed and playable.
    closeLauncher(*state);
    const auto serve = servePackage;
    servePackage = [serve](Exchange& exchange) {
        if (exchange.request.target.ends_with("manifest.signed"))
            exchange.waitForStop(60000);
        else
            serve(exchange);
    };
    const std::size_t before = packages.requests().size();
    UpdateChannel channel = state->selfUpdate.channel;
    // A shorter limit for the whole check than players get: the wait for an answer that never comes
    // ends with it all the same.
    channel.checkLimit = std::chrono::milliseconds(2000);
    state = std::make_unique<LauncherWindow>(*configured);
    state->selfUpdate.channel = channel;
    EXPECT_EQ(installedVersion(), "2");
    for (std::size_t index = before; index < packages.requests().size(); ++index)
        EXPECT_FALSE(packages.requests()[index].target.ends_with(".zip"))
            << packages.requests()[index].target;
}

TEST_F(UpdateFlow, ManifestsThatCannotBeTrustedAreIgnored) {
    const std::vector<std::pair<const char*, std::function<void()>>> cases = {
        {"bad signature",
         [&] {
             publish(1);
             signature[10] = signature[10] == '0' ? '1' : '0';
         }},
        {"expired", [&] { publish(1, currentUtcSeconds() - 60); }},
        {"lower sequence",
         [&] {
             // Sequence 5 was accepted before.
             raiseAcceptedSequence(state->selfUpdate.channel.sequenceRegistryKey,
                                   acceptedSequenceNameForTesting(key().publicKeyHex), 5);
             publish(4);
         }},
    };
    for (const auto& [what, prepare] : cases) {
        SCOPED_TRACE(what);
        TearDown();
        fs::remove_all(dir.path());
        SetUp();
        prepare();
        EXPECT_NE(installedVersion(), "2");
        EXPECT_FALSE(fetched("v2/TalvoPC.zip"));
    }
}

// A slow launcher download shows where it is and can be given up: the client check then goes on
// with the build that runs.
TEST_F(UpdateFlow, LauncherUpdateShowsItsProgressAndCancelGoesOnWithTheRunningBuild) {
    offerTricklingLauncherBuild();
    openWindow();
    ASSERT_TRUE(pumpUntil([&] { return state->session.view().caption.find(L"%") != std::wstring::npos; }))
        << testing::narrow(state->session.view().caption);
    EXPECT_TRUE(state->session.view().caption.starts_with(L"正在更新启动器"))
        << testing::narrow(state->session.view().caption);
    EXPECT_EQ(state->session.view().status, L"正在更新启动器…");
    EXPECT_TRUE(::IsWindowVisible(state->progressBar));
    EXPECT_TRUE(::IsWindowVisible(state->cancelDownloadButton) &&
                ::IsWindowEnabled(state->cancelDownloadButton));

    click(cancelDownloadButtonId);
    ASSERT_TRUE(pumpUntil([&] { return state->session.view().phase != Phase::updatingLauncher; }))
        << "the check goes on at once";
    stopTrickle = true;
    reachReady();
    EXPECT_EQ(state->session.config().document["clientPackage"]["version"], "2")
        << "the manifest's client, all the same";
    EXPECT_EQ(state->session.view().status, L"游戏下载完成，请点击进入游戏。");
    expectRunningBuildKept();
}

TEST_F(UpdateFlow, ClosingDuringTheLauncherUpdateEndsAtOnce) {
    offerTricklingLauncherBuild();
    openWindow();
    ASSERT_TRUE(pumpUntil([&] { return state->session.view().phase == Phase::updatingLauncher; }));
    ::SendMessageW(state->window, WM_CLOSE, 0, 0);
    EXPECT_FALSE(::IsWindow(state->window));
    EXPECT_FALSE(state->session.hasWorkers());
    expectRunningBuildKept();
}

TEST_F(UpdateFlow, WithoutAManifestAddressNothingIsAsked) {
    publish(1);
    state->selfUpdate.channel = {};
    EXPECT_EQ(installedVersion(), state->session.config().document["clientPackage"]["version"]);
    EXPECT_FALSE(fetched("manifest.json"));
    EXPECT_FALSE(fs::exists(dir / L"Updates"));
}

} // namespace
} // namespace launcher
