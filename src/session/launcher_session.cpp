#include "session/launcher_session.h"

#include "foundation/diagnostic_log.h"
#include "foundation/error.h"
#include "foundation/text.h"
#include "session/progress_caption.h"

namespace launcher {
namespace {

std::wstring failureText(const Error& error) {
    return multiByteToUtf16(error.what(), codePageUtf8);
}

// The platform's own description of a failure the player only hears a general sentence for.
void logUnexpected(std::string_view event) noexcept {
    try {
        throw;
    } catch (const std::exception& error) {
        logEvent(event, {{"what", error.what()}});
    } catch (...) {
        logEvent(event);
    }
}

void cancelIfPresent(const std::unique_ptr<CancelToken>& token) {
    if (token) cancel(*token);
}

void join(std::thread& worker) {
    if (worker.joinable()) worker.join();
}

} // namespace

LauncherSession::LauncherSession(LauncherConfig config, SessionWork work, SessionLink link)
    : config_(std::move(config)), work_(std::move(work)), link_(std::move(link)) {}

LauncherSession::~LauncherSession() {
    for (const auto* token : {&clientToken_, &launcherToken_, &loginToken_})
        cancelIfPresent(*token);
    joinWorkers();
}

void LauncherSession::setStatus(const std::wstring& text, StatusKind kind, const std::wstring* logText) {
    if (kind == StatusKind::error)
        logEvent("window.status", {{"text", logText != nullptr ? *logText : text}});
    view_.status = text;
    view_.statusKind = kind;
}

void LauncherSession::showFailure(const std::wstring& text) {
    setStatus(text, StatusKind::error);
}

void LauncherSession::startWorker(std::thread& slot, std::function<void()> work) {
    join(slot);
    slot = std::thread(std::move(work));
}

// Worker side: keeps the latest report where refreshProgress reads it, and asks for at most one
// refresh at a time, so the owner always reads the latest values.
ProgressCallback LauncherSession::progressReporter() {
    return [this](const std::wstring& label, std::uint64_t done, std::uint64_t total) {
        {
            std::lock_guard guard(progressLock_);
            progressLabel_ = label;
            progressDone_ = done;
            progressTotal_ = total;
        }
        if (!progressPosted_.exchange(true)) link_.postProgress();
    };
}

// The bar at its start and the cancel button, for a new download.
void LauncherSession::showFreshProgress(const wchar_t* caption) {
    {
        // A report left from an earlier download must not show its position for this one.
        std::lock_guard guard(progressLock_);
        progressLabel_ = caption;
        progressDone_ = 0;
        progressTotal_ = 0;
    }
    view_.downloadShown = true;
    view_.cancelEnabled = true;
    view_.percent = 0;
    view_.caption = caption;
}

void LauncherSession::hideProgress() {
    view_.downloadShown = false;
}

void LauncherSession::start() {
    view_.phase = Phase::checking;
    clientToken_ = std::make_unique<CancelToken>();
    launcherToken_ = std::make_unique<CancelToken>();
    view_.caption = L"正在检查客户端…";
    startWorker(clientWorker_, [this, &token = *clientToken_, &launcherToken = *launcherToken_] {
        setLogThreadName("check");
        const auto failed = [this](std::wstring text) {
            logEvent("worker.failed", {{"work", "check"}, {"text", text}});
            link_.post(ClientFailed{std::move(text)});
        };
        try {
            const CheckReports reports{[this] { link_.post(LauncherUpdateStarted{}); }, progressReporter()};
            link_.post(ClientChecked{work_.check(config_, token, launcherToken, reports)});
        } catch (const Canceled&) {
            failed(L"检查已取消");
        } catch (...) {
            logUnexpected("check.error");
            failed(L"无法检查客户端，请重试。");
        }
    });
}

void LauncherSession::startDownload() {
    join(clientWorker_);
    view_.phase = Phase::downloading;
    clientToken_ = std::make_unique<CancelToken>();
    showFreshProgress(L"正在准备下载…");
    setStatus(L"游戏正在下载，完成后点击进入游戏。", StatusKind::normal);
    startWorker(clientWorker_, [this, &token = *clientToken_] {
        setLogThreadName("download");
        const auto failed = [this](std::wstring text) {
            logEvent("worker.failed", {{"work", "download"}, {"text", text}});
            link_.post(ClientFailed{std::move(text)});
        };
        try {
            work_.install(config_, token, progressReporter());
            link_.post(ClientInstalled{});
        } catch (const Canceled&) {
            failed(L"下载已取消，点击进入游戏可重新下载。");
        } catch (const Error& error) {
            failed(failureText(error));
        } catch (...) {
            logUnexpected("install.error");
            failed(L"游戏下载或安装失败，请检查磁盘空间和目录权限后重试。");
        }
    });
}

SessionEffects LauncherSession::enterGame(const std::wstring& account, const std::wstring& password,
                                          const std::function<void()>& beforeLogin) {
    SessionEffects effects;
    switch (view_.phase) {
    case Phase::checking:
    case Phase::updatingLauncher:
        effects.box = L"正在检查游戏客户端，请稍后重试。";
        return effects;
    case Phase::downloading:
        effects.box = L"游戏正在下载，下载完成后重试。";
        return effects;
    case Phase::loggingIn:
    case Phase::launching:
    case Phase::closing:
        return effects;
    case Phase::notReady:
    case Phase::ready:
        break;
    }
    // A game started earlier still runs: a second login would start it twice.
    if (const std::uint32_t id = gameProcessId_.load(); id != 0) {
        if (work_.processRuns(id)) {
            effects.box = L"游戏正在运行，请先关闭游戏后再登录。";
            return effects;
        }
        gameProcessId_.exchange(0);
    }
    if (view_.phase == Phase::notReady) {
        startDownload();
        effects.box = L"游戏正在下载，下载完成后重试。";
        return effects;
    }
    if (trimWhitespace(account).empty() || password.empty()) {
        setStatus(L"请输入账号和密码。", StatusKind::error);
        effects.focus = FormFocus::now;
        return effects;
    }
    if (beforeLogin) beforeLogin();
    effects.hidePassword = true;
    startLogin(account, password);
    return effects;
}

void LauncherSession::startLogin(const std::wstring& account, const std::wstring& password) {
    view_.phase = Phase::loggingIn;
    view_.formEnabled = false;
    setStatus(L"正在验证账号，请稍候…", StatusKind::normal);
    join(loginWorker_);
    loginToken_ = std::make_unique<CancelToken>();
    startWorker(loginWorker_, [this, &token = *loginToken_, account, password] {
        setLogThreadName("login");
        const auto failed = [this](LoginFailed failure) {
            logEvent("worker.failed", {{"work", "login"}, {"text", failure.logText}});
            link_.post(std::move(failure));
        };
        try {
            if (!work_.verify(config_, token)) {
                const std::wstring text = L"客户端文件不完整，请重新下载。";
                return failed(LoginFailed{text, text, true});
            }
            const LoginResult result = work_.login(config_, account, password, token);
            link_.post(LoginAccepted{});
            work_.launch(config_, result, token, &gameProcessId_);
            link_.post(GameStarted{});
        } catch (const Canceled&) {
            failed(LoginFailed{L"登录已取消。", L"登录已取消。"});
        } catch (const Error& error) {
            // A refusal can quote the service, which may echo the account.
            std::wstring text = failureText(error);
            std::wstring logText = loggableServiceText(text, account);
            failed(LoginFailed{std::move(text), std::move(logText)});
        } catch (...) {
            logUnexpected("login.error");
            failed(LoginFailed{L"登录或启动失败，请稍后重试。", L"登录或启动失败，请稍后重试。"});
        }
    });
}

void LauncherSession::cancelDownload() {
    const bool launcherUpdate = view_.phase == Phase::updatingLauncher;
    logEvent("window.cancel_download", {{"launcher", launcherUpdate}});
    // Cancelling the launcher's own update leaves the client check to go on with this build.
    cancelIfPresent(launcherUpdate ? launcherToken_ : clientToken_);
    view_.cancelEnabled = false;
}

void LauncherSession::onClientChecked(ClientChecked& checked, SessionEffects& effects) {
    join(clientWorker_);
    if (checked.outcome.updatedConfig) config_ = std::move(*checked.outcome.updatedConfig);
    hideProgress();
    switch (checked.outcome.kind) {
    case CheckOutcome::Kind::ready:
        view_.phase = Phase::ready;
        view_.caption = L"客户端已就绪";
        setStatus(L"请输入账号和密码", StatusKind::normal);
        break;
    case CheckOutcome::Kind::missing:
        startDownload();
        break;
    case CheckOutcome::Kind::launcherReplaced:
        // The new build runs now; this one ends.
        effects.close = true;
        break;
    }
}

void LauncherSession::onClientDone(bool installed, const std::wstring& failure) {
    join(clientWorker_);
    hideProgress();
    view_.phase = installed ? Phase::ready : Phase::notReady;
    view_.caption = installed ? L"客户端下载完成" : failure;
    if (installed)
        setStatus(L"游戏下载完成，请点击进入游戏。", StatusKind::success);
    else
        setStatus(L"游戏尚未就绪，点击进入游戏可重试。", StatusKind::error);
}

void LauncherSession::onLoginFailed(const LoginFailed& failed, SessionEffects& effects) {
    join(loginWorker_);
    view_.phase = failed.clientIncomplete ? Phase::notReady : Phase::ready;
    view_.formEnabled = true;
    setStatus(failed.text, StatusKind::error, &failed.logText);
    // Disabling the form took the keyboard away: the player types the next try without a click.
    effects.focus = FormFocus::whenActive;
}

SessionEffects LauncherSession::handle(WorkerResult result) {
    SessionEffects effects;
    if (closing()) return effects;
    std::visit(
        [&](auto& report) {
            using Report = std::decay_t<decltype(report)>;
            if constexpr (std::is_same_v<Report, ClientChecked>) {
                onClientChecked(report, effects);
            } else if constexpr (std::is_same_v<Report, LauncherUpdateStarted>) {
                view_.phase = Phase::updatingLauncher;
                showFreshProgress(L"正在更新启动器…");
                setStatus(L"正在更新启动器…", StatusKind::normal);
            } else if constexpr (std::is_same_v<Report, ClientInstalled>) {
                onClientDone(true, {});
            } else if constexpr (std::is_same_v<Report, ClientFailed>) {
                onClientDone(false, report.text);
            } else if constexpr (std::is_same_v<Report, LoginAccepted>) {
                view_.phase = Phase::launching;
                effects.clearPassword = true;
                setStatus(L"账号验证通过，正在启动游戏…", StatusKind::success);
            } else if constexpr (std::is_same_v<Report, GameStarted>) {
                join(loginWorker_);
                setStatus(L"游戏已启动", StatusKind::success);
                effects.close = true; // the launcher ends once the game runs
            } else if constexpr (std::is_same_v<Report, LoginFailed>) {
                onLoginFailed(report, effects);
            }
        },
        result);
    return effects;
}

void LauncherSession::refreshProgress() {
    std::wstring label;
    std::uint64_t done = 0, total = 0;
    {
        std::lock_guard guard(progressLock_);
        label = progressLabel_;
        done = progressDone_;
        total = progressTotal_;
        progressPosted_ = false;
    }
    if (view_.phase != Phase::downloading && view_.phase != Phase::updatingLauncher) return;
    const ProgressCaption caption = progressCaption(label, done, total);
    view_.caption = caption.text;
    view_.percent = caption.percent;
}

bool LauncherSession::beginClose() {
    if (closing()) return false;
    logEvent("window.close");
    view_.phase = Phase::closing;
    for (const auto* token : {&clientToken_, &launcherToken_, &loginToken_})
        cancelIfPresent(*token);
    return true;
}

void LauncherSession::joinWorkers() {
    join(clientWorker_);
    join(loginWorker_);
}

} // namespace launcher
