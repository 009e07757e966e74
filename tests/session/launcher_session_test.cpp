// The flow behind the form without a window or a port: the session runs work of the test's own on
// its real worker threads, and the test hands their reports back on its own thread as the window's
// message loop does. Each table walks the phases through one kind of input.
#include "foundation/resources.h"
#include "session/launcher_session.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <thread>

namespace launcher {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

// Work that waits until the test lets it go, or until its token is cancelled.
struct Gate {
    std::atomic<bool> open{false};
    void wait(CancelToken& token) const {
        while (!open && !token.canceled())
            std::this_thread::sleep_for(2ms);
        throwIfCanceled(token);
    }
};

class SessionFlow : public ::testing::Test {
protected:
    // What the work does: by default the client is found ready and every step succeeds. Each case
    // changes what it needs before the session meets it.
    std::function<CheckOutcome(CancelToken&, CancelToken&, const CheckReports&)> check;
    std::function<void(CancelToken&, const ProgressCallback&)> install;
    std::function<bool(CancelToken&)> verify;
    std::function<void(CancelToken&)> login;
    std::function<void(CancelToken&, std::atomic<std::uint32_t>*)> launch;
    bool gameRuns = false;
    std::vector<std::wstring> accounts; // what the login was given
    int credentialSyncs = 0;

    std::mutex lock;
    std::deque<WorkerResult> queued; // guarded by lock
    int progressAsked = 0;           // guarded by lock
    std::unique_ptr<LauncherSession> session;
    SessionEffects last; // of the last report handed over

    // A fresh session with the default work; a case may call it again for its next row.
    void SetUp() override {
        session.reset();
        check = [](CancelToken&, CancelToken&, const CheckReports&) {
            return CheckOutcome{CheckOutcome::Kind::ready};
        };
        install = [](CancelToken&, const ProgressCallback&) {};
        verify = [](CancelToken&) { return true; };
        login = [](CancelToken&) {};
        launch = [](CancelToken&, std::atomic<std::uint32_t>* id) { *id = 4242; };
        gameRuns = false;
        accounts.clear();
        credentialSyncs = 0;
        queued.clear();
        progressAsked = 0;
        last = {};
        LauncherConfig config{json::parse(loadResourceBytes(builtinConfigResourceId)),
                              L"C:\\Games\\Launcher"};
        SessionWork work{
            .check = [this](const LauncherConfig&, CancelToken& token, CancelToken& launcherToken,
                            const CheckReports& reports) { return check(token, launcherToken, reports); },
            .install = [this](const LauncherConfig&, CancelToken& token,
                              const ProgressCallback& progress) { install(token, progress); },
            .verify = [this](const LauncherConfig&, CancelToken& token) { return verify(token); },
            .login =
                [this](const LauncherConfig&, std::wstring_view account, std::wstring_view,
                       CancelToken& token) {
                    accounts.emplace_back(account);
                    login(token);
                    return LoginResult{L"10001", L"token", L"7", L""};
                },
            .launch = [this](const LauncherConfig&, const LoginResult&, CancelToken& token,
                             std::atomic<std::uint32_t>* id) { launch(token, id); },
            .processRuns = [this](std::uint32_t) { return gameRuns; },
        };
        SessionLink link{[this](WorkerResult result) {
                             std::lock_guard guard(lock);
                             queued.push_back(std::move(result));
                         },
                         [this] {
                             std::lock_guard guard(lock);
                             ++progressAsked;
                         }};
        session = std::make_unique<LauncherSession>(std::move(config), std::move(work), std::move(link));
    }

    // Hands the queued reports to the session, as the window's loop does, until `done` holds.
    bool runUntil(const std::function<bool()>& done) {
        for (int i = 0; i < 5000 && !done(); ++i) {
            std::unique_lock guard(lock);
            if (queued.empty()) {
                guard.unlock();
                std::this_thread::sleep_for(2ms);
                continue;
            }
            WorkerResult next = std::move(queued.front());
            queued.pop_front();
            guard.unlock();
            last = session->handle(std::move(next));
        }
        return done();
    }
    bool reach(Phase wanted) {
        return runUntil([&] { return session->view().phase == wanted; });
    }
    SessionEffects enter(const std::wstring& account = L"player", const std::wstring& password = L"secret") {
        return session->enterGame(account, password, [this] { ++credentialSyncs; });
    }
    const SessionView& view() const { return session->view(); }
};

// Enter-game in every phase: explained, ignored, a download started, or a login.
TEST_F(SessionFlow, EnterGameDoesWhatEachPhaseAllows) {
    Gate held;
    struct Case {
        const char* what;
        std::function<void()> prepare; // brings the session to the phase
        Phase before;
        std::wstring box;
        Phase after;
    };
    const std::vector<Case> cases = {
        {"checking",
         [&] {
             check = [&](CancelToken& token, CancelToken&, const CheckReports&) {
                 held.wait(token);
                 return CheckOutcome{};
             };
         },
         Phase::checking, L"正在检查游戏客户端，请稍后重试。", Phase::checking},
        {"updating the launcher",
         [&] {
             check = [&](CancelToken& token, CancelToken&, const CheckReports& reports) {
                 reports.launcherUpdateStarted();
                 held.wait(token);
                 return CheckOutcome{};
             };
         },
         Phase::updatingLauncher, L"正在检查游戏客户端，请稍后重试。", Phase::updatingLauncher},
        {"downloading",
         [&] {
             check = [](CancelToken&, CancelToken&, const CheckReports&) { return CheckOutcome{}; };
             install = [&](CancelToken& token, const ProgressCallback&) { held.wait(token); };
         },
         Phase::downloading, L"游戏正在下载，下载完成后重试。", Phase::downloading},
        {"not ready: a new download",
         [&] {
             check = [](CancelToken&, CancelToken&, const CheckReports&) -> CheckOutcome {
                 throw Error("x");
             };
             install = [&](CancelToken& token, const ProgressCallback&) { held.wait(token); };
         },
         Phase::notReady, L"游戏正在下载，下载完成后重试。", Phase::downloading},
        {"ready with a game still running", [&] { gameRuns = true; }, Phase::ready,
         L"游戏正在运行，请先关闭游戏后再登录。", Phase::ready},
        {"ready", [&] { login = [&](CancelToken& token) { held.wait(token); }; }, Phase::ready, L"",
         Phase::loggingIn},
        {"logging in", [&] { login = [&](CancelToken& token) { held.wait(token); }; }, Phase::loggingIn, L"",
         Phase::loggingIn},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        held.open = false;
        c.prepare();
        session->start();
        if (c.before == Phase::ready || c.before == Phase::loggingIn) {
            ASSERT_TRUE(reach(Phase::ready));
            session->gameProcessId() = 77; // from an earlier launch
        }
        if (c.before == Phase::loggingIn) enter();
        ASSERT_TRUE(reach(c.before));
        const SessionEffects effects = enter();
        EXPECT_EQ(effects.box, c.box);
        EXPECT_EQ(view().phase, c.after);
        if (c.after == Phase::downloading) {
            EXPECT_EQ(view().status, L"游戏正在下载，完成后点击进入游戏。");
        }
        if (c.what == std::string("ready")) {
            EXPECT_TRUE(effects.hidePassword);
            EXPECT_FALSE(view().formEnabled);
            EXPECT_EQ(view().status, L"正在验证账号，请稍候…");
            EXPECT_EQ(credentialSyncs, 1) << "the remembered credentials follow the form first";
            EXPECT_EQ(session->gameProcessId().load(), 0u) << "the earlier game has ended";
        }
        held.open = true;
        session.reset();
    }
}

TEST_F(SessionFlow, IncompleteFormIsRefusedWithTheKeyboardOnTheFieldToFill) {
    session->start();
    ASSERT_TRUE(reach(Phase::ready));
    for (const auto& [account, password] :
         std::vector<std::pair<std::wstring, std::wstring>>{{L" \t", L"secret"}, {L"player", L""}}) {
        const SessionEffects effects = enter(account, password);
        EXPECT_EQ(view().status, L"请输入账号和密码。");
        EXPECT_EQ(view().statusKind, StatusKind::error);
        EXPECT_EQ(effects.focus, FormFocus::now);
        EXPECT_EQ(view().phase, Phase::ready);
    }
    EXPECT_TRUE(accounts.empty());
    EXPECT_EQ(credentialSyncs, 0);
}

// What each worker's report makes of the session.
TEST_F(SessionFlow, ReportsMoveThePhasesAndSayWhatHappened) {
    struct Case {
        const char* what;
        std::function<void()> prepare;
        bool login; // the case begins with a login from Ready
        Phase phase;
        std::wstring status;
        StatusKind kind;
        std::wstring caption; // empty: not asserted
        bool close = false;
    };
    const std::vector<Case> cases = {
        {"client verified", [] {}, false, Phase::ready, L"请输入账号和密码", StatusKind::normal,
         L"客户端已就绪"},
        {"client missing, then installed",
         [&] { check = [](CancelToken&, CancelToken&, const CheckReports&) { return CheckOutcome{}; }; },
         false, Phase::ready, L"游戏下载完成，请点击进入游戏。", StatusKind::success, L"客户端下载完成"},
        {"install failed",
         [&] {
             check = [](CancelToken&, CancelToken&, const CheckReports&) { return CheckOutcome{}; };
             install = [](CancelToken&, const ProgressCallback&) { throw Error("磁盘空间不足。"); };
         },
         false, Phase::notReady, L"游戏尚未就绪，点击进入游戏可重试。", StatusKind::error, L"磁盘空间不足。"},
        {"install failed unexpectedly",
         [&] {
             check = [](CancelToken&, CancelToken&, const CheckReports&) { return CheckOutcome{}; };
             install = [](CancelToken&, const ProgressCallback&) { throw std::runtime_error("disk"); };
         },
         false, Phase::notReady, L"游戏尚未就绪，点击进入游戏可重试。", StatusKind::error,
         L"游戏下载或安装失败，请检查磁盘空间和目录权限后重试。"},
        {"check failed",
         [&] {
             check = [](CancelToken&, CancelToken&, const CheckReports&) -> CheckOutcome {
                 throw std::runtime_error("x");
             };
         },
         false, Phase::notReady, L"游戏尚未就绪，点击进入游戏可重试。", StatusKind::error,
         L"无法检查客户端，请重试。"},
        {"launcher replaced",
         [&] {
             check = [](CancelToken&, CancelToken&, const CheckReports&) {
                 return CheckOutcome{CheckOutcome::Kind::launcherReplaced};
             };
         },
         false, Phase::checking, L"请输入账号和密码", StatusKind::normal, L"", true},
        {"game started", [] {}, true, Phase::launching, L"游戏已启动", StatusKind::success, L"", true},
        {"login refused", [&] { login = [](CancelToken&) { throw Error("登录失败：密码错误"); }; }, true,
         Phase::ready, L"登录失败：密码错误", StatusKind::error},
        {"login failed unexpectedly", [&] { login = [](CancelToken&) { throw std::runtime_error("x"); }; },
         true, Phase::ready, L"登录或启动失败，请稍后重试。", StatusKind::error},
        {"client no longer complete", [&] { verify = [](CancelToken&) { return false; }; }, true,
         Phase::notReady, L"客户端文件不完整，请重新下载。", StatusKind::error},
        {"launch failed after the login",
         [&] {
             launch = [](CancelToken&, std::atomic<std::uint32_t>*) {
                 throw Error("游戏启动后未显示窗口。");
             };
         },
         true, Phase::ready, L"游戏启动后未显示窗口。", StatusKind::error},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        c.prepare();
        session->start();
        if (c.login) {
            ASSERT_TRUE(reach(Phase::ready));
            enter();
        }
        ASSERT_TRUE(runUntil([&] {
            return c.close ? last.close : view().status == c.status && view().phase == c.phase;
        })) << testing::narrow(view().status);
        EXPECT_EQ(view().phase, c.phase);
        EXPECT_EQ(view().status, c.status);
        EXPECT_EQ(view().statusKind, c.kind);
        if (!c.caption.empty()) {
            EXPECT_EQ(view().caption, c.caption);
        }
        EXPECT_EQ(last.close, c.close);
        EXPECT_FALSE(view().downloadShown);
        EXPECT_TRUE(view().formEnabled || c.close);
        if (c.login && !c.close) {
            EXPECT_EQ(last.focus, FormFocus::whenActive);
        }
        session.reset();
    }
}

TEST_F(SessionFlow, AcceptedLoginClearsThePasswordAndTheGameStartCloses) {
    Gate held;
    launch = [&](CancelToken& token, std::atomic<std::uint32_t>* id) {
        *id = 4242;
        held.wait(token);
    };
    session->start();
    ASSERT_TRUE(reach(Phase::ready));
    enter(L" player one ");
    ASSERT_TRUE(reach(Phase::launching));
    EXPECT_TRUE(last.clearPassword);
    EXPECT_EQ(view().status, L"账号验证通过，正在启动游戏…");
    EXPECT_EQ(view().statusKind, StatusKind::success);
    EXPECT_EQ(enter().box, L"") << "nothing while the game starts";
    held.open = true;
    ASSERT_TRUE(runUntil([&] { return last.close; }));
    EXPECT_EQ(session->gameProcessId().load(), 4242u);
    EXPECT_EQ(accounts, std::vector<std::wstring>{L" player one "}) << "the account as typed";
}

// The cancel button ends the download, or only the launcher's own update, whose check goes on.
TEST_F(SessionFlow, CancelEndsTheDownloadOrTheLauncherUpdateAlone) {
    check = [](CancelToken&, CancelToken&, const CheckReports&) { return CheckOutcome{}; };
    install = [](CancelToken& token, const ProgressCallback&) { Gate().wait(token); };
    session->start();
    ASSERT_TRUE(reach(Phase::downloading));
    EXPECT_TRUE(view().downloadShown && view().cancelEnabled);
    session->cancelDownload();
    EXPECT_FALSE(view().cancelEnabled);
    ASSERT_TRUE(reach(Phase::notReady));
    EXPECT_EQ(view().caption, L"下载已取消，点击进入游戏可重新下载。");
    EXPECT_EQ(view().status, L"游戏尚未就绪，点击进入游戏可重试。");
    EXPECT_EQ(enter().box, L"游戏正在下载，下载完成后重试。");
    EXPECT_TRUE(view().cancelEnabled) << "a fresh download, a fresh token";
    EXPECT_EQ(view().percent, 0);

    SetUp();
    std::atomic<bool> checkGoesOn{false};
    check = [&](CancelToken& token, CancelToken& launcherToken, const CheckReports& reports) {
        reports.launcherUpdateStarted();
        try {
            Gate().wait(launcherToken);
        } catch (const Canceled&) {
        }
        throwIfCanceled(token);
        checkGoesOn = true;
        return CheckOutcome{CheckOutcome::Kind::ready};
    };
    session->start();
    ASSERT_TRUE(reach(Phase::updatingLauncher));
    EXPECT_EQ(view().status, L"正在更新启动器…");
    EXPECT_TRUE(view().downloadShown && view().cancelEnabled);
    session->cancelDownload();
    ASSERT_TRUE(reach(Phase::ready));
    EXPECT_TRUE(checkGoesOn);
    EXPECT_FALSE(view().downloadShown);
}

TEST_F(SessionFlow, ProgressShowsTheLatestReportWhileADownloadRuns) {
    Gate held;
    std::atomic<int> step{0};
    check = [](CancelToken&, CancelToken&, const CheckReports&) { return CheckOutcome{}; };
    install = [&](CancelToken& token, const ProgressCallback& progress) {
        progress(L"正在下载客户端", 50 << 20, 200 << 20);
        progress(L"正在下载客户端", 60 << 20, 200 << 20);
        step = 1;
        while (step != 2)
            std::this_thread::sleep_for(2ms);
        progress(L"正在下载客户端", 5 << 20, 0);
        held.wait(token);
    };
    session->start();
    ASSERT_TRUE(runUntil([&] { return step == 1; }));
    {
        std::lock_guard guard(lock);
        EXPECT_EQ(progressAsked, 1) << "one refresh for two reports";
    }
    session->refreshProgress();
    EXPECT_EQ(view().caption, L"正在下载客户端  30%  60.0 / 200.0 MB");
    EXPECT_EQ(view().percent, 30);
    step = 2;
    ASSERT_TRUE(runUntil([&] {
        std::lock_guard guard(lock);
        return progressAsked == 2;
    }));
    session->refreshProgress();
    EXPECT_EQ(view().caption, L"正在下载客户端  已下载 5.0 MB");
    EXPECT_EQ(view().percent, std::nullopt) << "no total: a marquee";
    held.open = true;
    ASSERT_TRUE(reach(Phase::ready));
    session->refreshProgress();
    EXPECT_EQ(view().caption, L"客户端下载完成") << "a late report changes nothing once the download ended";
}

// Closing cancels whatever runs, in any phase, and nothing reported afterwards is shown.
TEST_F(SessionFlow, ClosingEndsEveryWorkerInEveryPhase) {
    const auto endless = [](CancelToken& token) { Gate().wait(token); };
    struct Case {
        const char* what;
        std::function<void()> prepare;
        Phase phase;
    };
    const std::vector<Case> cases = {
        {"checking",
         [&] {
             check = [&](CancelToken& token, CancelToken&, const CheckReports&) {
                 endless(token);
                 return CheckOutcome{};
             };
         },
         Phase::checking},
        {"updating the launcher",
         [&] {
             check = [&](CancelToken& token, CancelToken& launcherToken, const CheckReports& reports) {
                 reports.launcherUpdateStarted();
                 endless(launcherToken);
                 endless(token);
                 return CheckOutcome{};
             };
         },
         Phase::updatingLauncher},
        {"downloading",
         [&] {
             check = [](CancelToken&, CancelToken&, const CheckReports&) { return CheckOutcome{}; };
             install = [&](CancelToken& token, const ProgressCallback&) { endless(token); };
         },
         Phase::downloading},
        {"logging in", [&] { login = endless; }, Phase::loggingIn},
        {"launching",
         [&] { launch = [&](CancelToken& token, std::atomic<std::uint32_t>*) { endless(token); }; },
         Phase::launching},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        c.prepare();
        session->start();
        if (c.phase == Phase::loggingIn || c.phase == Phase::launching) {
            ASSERT_TRUE(reach(Phase::ready));
            enter();
        }
        ASSERT_TRUE(reach(c.phase));
        EXPECT_TRUE(session->beginClose());
        EXPECT_FALSE(session->beginClose()) << "once";
        session->joinWorkers(); // returns: every worker saw its cancellation
        EXPECT_TRUE(session->closing());
        const std::wstring status = view().status;
        runUntil([&] {
            std::lock_guard guard(lock);
            return queued.empty();
        });
        EXPECT_EQ(view().status, status) << "what the workers reported last is not shown";
        EXPECT_EQ(view().phase, Phase::closing);
    }
}

} // namespace
} // namespace launcher
