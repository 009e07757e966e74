#include "ui/launcher_flow.h"

#include "account/login_reply.h"
#include "foundation/diagnostic_log.h"
#include "foundation/error.h"
#include "foundation/text.h"
#include "install/client_install.h"
#include "install/installed_marker.h"
#include "launch/game_launch.h"
#include "ui/progress_caption.h"
#include "ui/window_face.h"
#include "update/launcher_replacement.h"
#include "update/update_channel.h"

#include <commctrl.h>
#include <shellapi.h>

#include <optional>

namespace launcher {
namespace {

constexpr const wchar_t* boxCaption = L"曜石纪元 · 启动器";

void informationBox(const LauncherWindow& state, const wchar_t* text) {
    logEvent("window.message", {{"text", text}});
    ::MessageBoxW(state.window, text, boxCaption, MB_ICONINFORMATION);
}

void invalidate(const LauncherWindow& state) {
    ::InvalidateRect(state.window, nullptr, FALSE);
}

void joinWorker(LauncherWindow& state, int slot) {
    const auto found = state.workers.find(slot);
    if (found == state.workers.end()) return;
    if (found->second.joinable()) found->second.join();
    state.workers.erase(found);
}

// Worker side: hands the record to the window, or drops it if the window cannot take it. The log
// shows `logText` in place of a text that may carry what the player typed.
void postWorkerResult(HWND window, int kind, std::wstring text,
                      std::optional<std::wstring> logText = std::nullopt) noexcept {
    try {
        if (!logText) logText = text;
        // What the player is told, as the worker hands it over.
        if (!text.empty()) logEvent("worker.failed", {{"kind", kind}, {"text", *logText}});
        auto record =
            std::make_unique<WorkerResult>(WorkerResult{std::move(text), kind, std::move(*logText)});
        if (::PostMessageW(window, workerResultMessage, 0, reinterpret_cast<LPARAM>(record.get())))
            (void)record.release();
    } catch (...) {
    }
}

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

std::wstring windowText(HWND control) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(
        static_cast<std::size_t>(::GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return text;
}

void enableForm(LauncherWindow& state, bool enabled) {
    for (HWND control : {state.enterGameButton, state.accountEdit, state.passwordEdit,
                         state.showPasswordButton, state.rememberCheck})
        ::EnableWindow(control, enabled);
}

void showDownloadControls(LauncherWindow& state, bool shown) {
    ::ShowWindow(state.cancelDownloadButton, shown ? SW_SHOW : SW_HIDE);
    ::ShowWindow(state.progressBar, shown ? SW_SHOW : SW_HIDE);
}

// Gives the keyboard to `control` now if the window is active, else when it is next activated.
void giveKeyboardTo(LauncherWindow& state, HWND control) {
    state.focusBeforeDeactivation = control;
    if (::GetActiveWindow() == state.window) ::SetFocus(control);
}

// Cancels and joins every worker, drops the results they queued and destroys the window.
void endWorkersAndWindow(LauncherWindow& state) {
    for (const auto* token : {&state.clientToken, &state.loginToken, &state.launcherToken})
        if (*token) cancel(**token);
    ::ShowWindow(state.window, SW_HIDE);
    for (auto& [slot, thread] : state.workers)
        if (thread.joinable()) thread.join();
    state.workers.clear();
    // Results the workers posted meanwhile are dropped, but their records still need freeing.
    MSG message;
    while (::PeekMessageW(&message, state.window, workerResultMessage, workerResultMessage, PM_REMOVE))
        std::unique_ptr<WorkerResult>(reinterpret_cast<WorkerResult*>(message.lParam)).reset();
    ::DestroyWindow(state.window);
}

// A game started earlier still runs: a second login would start it twice.
bool gameStillRuns(LauncherWindow& state) {
    const DWORD id = state.gameProcessId.load();
    if (id == 0) return false;
    const UniqueKernelHandle game{::OpenProcess(SYNCHRONIZE, FALSE, id)};
    if (game && ::WaitForSingleObject(game.get(), 0) == WAIT_TIMEOUT) return true;
    state.gameProcessId.exchange(0);
    return false;
}

// Worker side: keeps the latest report where the window reads it, and queues at most one refresh.
ProgressCallback reportTo(LauncherWindow& state) {
    return
        [&state, window = state.window](const std::wstring& label, std::uint64_t done, std::uint64_t total) {
            {
                std::lock_guard guard(state.progressLock);
                state.progressLabel = label;
                state.progressDone = done;
                state.progressTotal = total;
            }
            if (!state.progressPosted.exchange(true)) ::PostMessageW(window, workerProgressMessage, 0, 0);
        };
}

// Shows the bar at its start and the cancel button for a new download.
void showFreshProgress(LauncherWindow& state, const wchar_t* label) {
    {
        // A report left from an earlier download must not show its position for this one.
        std::lock_guard guard(state.progressLock);
        state.progressLabel = label;
        state.progressDone = 0;
        state.progressTotal = 0;
    }
    ::SendMessageW(state.progressBar, PBM_SETMARQUEE, FALSE, 0);
    ::SetWindowLongPtrW(state.progressBar, GWL_STYLE,
                        ::GetWindowLongPtrW(state.progressBar, GWL_STYLE) &
                            ~static_cast<LONG_PTR>(PBS_MARQUEE));
    ::SendMessageW(state.progressBar, PBM_SETPOS, 0, 0);
    ::EnableWindow(state.cancelDownloadButton, TRUE);
    showDownloadControls(state, true);
    state.progressCaption = label;
}

// Replaces the running launcher with a newer build the manifest offers, and starts that one; on
// the check worker, so nothing else runs. False when there is nothing to do, replacing failed or
// the player cancelled it: this launcher then goes on as it is.
bool replaceLauncher(LauncherWindow& state, const LauncherRelease& release, CancelToken& token) {
    if (state.version.empty() || compareVersions(release.version, state.version) <= 0) return false;
    // A build that calls itself older than the manifest says would otherwise replace itself on
    // every start.
    if (fileHasDigest(state.executable, release.sha256)) {
        logEvent("update.launcher_same_build", {{"version", release.version}});
        return false;
    }
    postWorkerResult(state.window, launcherUpdating, L"正在更新启动器…");
    try {
        replaceLauncherExecutable(release, state.executable, token, reportTo(state));
    } catch (const Canceled&) {
        logEvent("update.launcher_canceled");
        return false;
    } catch (const std::exception& error) {
        logEvent("update.launcher_failed", {{"reason", error.what()}});
        return false;
    }
    try {
        startLauncherExecutable(state.executable, state.workingDirectory, release.sha256);
    } catch (const Error& error) {
        // The new build is in place and starts next time; this one carries on meanwhile.
        logEvent("update.launcher_not_started", {{"reason", error.what()}});
        return false;
    }
    return true;
}

// The launcher's own update is over, whichever way; the check goes on or has ended.
void endLauncherUpdate(LauncherWindow& state) {
    if (!std::exchange(state.updatingLauncher, false)) return;
    showDownloadControls(state, false);
}

// The configuration a check worker's accepted manifest made, once that worker is joined.
void adoptUpdatedConfig(LauncherWindow& state) {
    if (!state.updatedConfig) return;
    state.config = std::move(*state.updatedConfig);
    state.updatedConfig.reset();
}

} // namespace

void setStatus(LauncherWindow& state, const std::wstring& text, int kind, const std::wstring* logText) {
    if (kind == 1) logEvent("window.status", {{"text", logText != nullptr ? *logText : text}});
    state.statusText = text;
    state.statusKind = kind;
    ::SetWindowTextW(state.statusLabel, text.c_str());
    invalidate(state);
}

HWND formEditToType(const LauncherWindow& state) {
    return trimWhitespace(windowText(state.accountEdit)).empty() ? state.accountEdit : state.passwordEdit;
}

void startClientCheck(LauncherWindow& state) {
    if (state.checking && state.workers.contains(1)) return;
    if (state.downloading || state.loginBusy) return;
    joinWorker(state, 1);
    state.checking = true;
    state.clientToken = std::make_unique<CancelToken>();
    state.launcherToken = std::make_unique<CancelToken>();
    state.progressCaption = L"正在检查客户端…";
    invalidate(state);
    state.workers[1] = std::thread(
        [&state, window = state.window, &token = *state.clientToken, &launcherToken = *state.launcherToken] {
            setLogThreadName("check");
            try {
                const std::optional<AcceptedUpdate> update =
                    refreshUpdateManifest(state.updateChannel, state.config, currentUtcSeconds(), token);
                if (update && update->manifest.launcher &&
                    replaceLauncher(state, *update->manifest.launcher, launcherToken)) {
                    postWorkerResult(window, launcherReplaced, {});
                    return;
                }
                // Read by the window only after it has joined this worker.
                if (update) state.updatedConfig = update->config;
                const LauncherConfig& config = update ? update->config : state.config;
                postWorkerResult(window,
                                 isInstalledClientReady(config, token) ? clientVerified : clientMissing, {});
            } catch (const Canceled&) {
                postWorkerResult(window, clientFailed, L"检查已取消");
            } catch (...) {
                logUnexpected("check.error");
                postWorkerResult(window, clientFailed, L"无法检查客户端，请重试。");
            }
        });
}

void startDownload(LauncherWindow& state) {
    joinWorker(state, 1);
    state.checking = false;
    state.downloading = true;
    state.clientReady = false;
    state.clientToken = std::make_unique<CancelToken>();
    state.updatingLauncher = false;
    showFreshProgress(state, L"正在准备下载…");
    setStatus(state, L"游戏正在下载，完成后点击进入游戏。", 0);
    state.workers[1] = std::thread([&state, window = state.window, &token = *state.clientToken] {
        setLogThreadName("download");
        try {
            installClient(state.config, token, reportTo(state));
            postWorkerResult(window, clientInstalled, {});
        } catch (const Canceled&) {
            postWorkerResult(window, clientFailed, L"下载已取消，点击进入游戏可重新下载。");
        } catch (const Error& error) {
            postWorkerResult(window, clientFailed, failureText(error));
        } catch (...) {
            logUnexpected("install.error");
            postWorkerResult(window, clientFailed, L"游戏下载或安装失败，请检查磁盘空间和目录权限后重试。");
        }
    });
}

void startLoginAndLaunch(LauncherWindow& state) {
    if (state.checking) return informationBox(state, L"正在检查游戏客户端，请稍后重试。");
    if (state.downloading) return informationBox(state, L"游戏正在下载，下载完成后重试。");
    if (state.loginBusy) return;
    if (gameStillRuns(state)) return informationBox(state, L"游戏正在运行，请先关闭游戏后再登录。");
    if (!state.clientReady) {
        startDownload(state);
        return informationBox(state, L"游戏正在下载，下载完成后重试。");
    }
    const std::wstring account = windowText(state.accountEdit);
    const std::wstring password = windowText(state.passwordEdit);
    if (trimWhitespace(account).empty() || password.empty()) {
        setStatus(state, L"请输入账号和密码。", 1);
        ::SetFocus(formEditToType(state));
        return;
    }
    syncRememberedCredentials(state, false);
    setPasswordVisible(state, false, false);
    state.loginBusy = true;
    enableForm(state, false);
    setStatus(state, L"正在验证账号，请稍候…", 0);
    joinWorker(state, 2);
    state.loginToken = std::make_unique<CancelToken>();
    state.workers[2] =
        std::thread([&state, window = state.window, &token = *state.loginToken, account, password] {
            setLogThreadName("login");
            try {
                if (!isInstalledClientReady(state.config, token)) {
                    postWorkerResult(window, clientNoLongerVerifies, L"客户端文件不完整，请重新下载。");
                    return;
                }
                const LoginResult result = login(state.config, account, password, token);
                postWorkerResult(window, loginSucceeded, {});
                launchGame(state.config, result, token, &state.gameProcessId);
                postWorkerResult(window, gameStarted, {});
            } catch (const Canceled&) {
                postWorkerResult(window, loginFailed, L"登录已取消。");
            } catch (const Error& error) {
                // A refusal can quote the service, which may echo the account.
                std::wstring text = failureText(error);
                std::wstring logText = loggableServiceText(text, account);
                postWorkerResult(window, loginFailed, std::move(text), std::move(logText));
            } catch (...) {
                logUnexpected("login.error");
                postWorkerResult(window, loginFailed, L"登录或启动失败，请稍后重试。");
            }
        });
}

void syncRememberedCredentials(LauncherWindow& state, bool interactive) {
    try {
        if (::SendMessageW(state.rememberCheck, BM_GETCHECK, 0, 0) == BST_CHECKED) {
            const std::wstring account = windowText(state.accountEdit);
            const std::wstring password = windowText(state.passwordEdit);
            if (trimWhitespace(account).empty() || password.empty()) {
                if (interactive) {
                    ::SendMessageW(state.rememberCheck, BM_SETCHECK, BST_UNCHECKED, 0);
                    informationBox(state, L"请输入账号和密码后再勾选记住账号密码。");
                }
                return;
            }
            saveCredentials(state.credentials, account, password);
        } else {
            forgetCredentials(state.credentials);
        }
    } catch (...) {
        logUnexpected("credentials.error");
        setStatus(state, L"账号密码保存失败，请检查目录权限。", 1);
    }
}

void handleWorkerResult(LauncherWindow& state, const WorkerResult& result) {
    switch (result.kind) {
    case clientVerified:
        joinWorker(state, 1);
        adoptUpdatedConfig(state);
        endLauncherUpdate(state);
        state.checking = false;
        state.clientReady = true;
        state.progressCaption = L"客户端已就绪";
        setStatus(state, L"请输入账号和密码", 0);
        break;
    case clientMissing:
        joinWorker(state, 1);
        adoptUpdatedConfig(state);
        state.checking = false;
        startDownload(state);
        break;
    case clientInstalled:
    case clientFailed: {
        const bool installed = result.kind == clientInstalled;
        joinWorker(state, 1);
        adoptUpdatedConfig(state);
        endLauncherUpdate(state);
        state.downloading = false;
        state.clientReady = installed;
        state.checking = false;
        showDownloadControls(state, false);
        state.progressCaption = installed ? L"客户端下载完成" : result.text;
        if (installed)
            setStatus(state, L"游戏下载完成，请点击进入游戏。", 2);
        else
            setStatus(state, L"游戏尚未就绪，点击进入游戏可重试。", 1);
        break;
    }
    case loginSucceeded:
        ::SetWindowTextW(state.passwordEdit, L"");
        setStatus(state, L"账号验证通过，正在启动游戏…", 2);
        break;
    case launcherUpdating:
        state.updatingLauncher = true;
        showFreshProgress(state, L"正在更新启动器…");
        setStatus(state, result.text, 0);
        break;
    case launcherReplaced:
        joinWorker(state, 1);
        closeLauncher(state);
        return;
    case gameStarted:
        joinWorker(state, 2);
        setStatus(state, L"游戏已启动", 2);
        closeLauncher(state);
        return;
    case clientNoLongerVerifies:
    case loginFailed:
        if (result.kind == clientNoLongerVerifies) state.clientReady = false;
        joinWorker(state, 2);
        state.loginBusy = false;
        enableForm(state, true);
        setStatus(state, result.text, 1, &result.logText);
        // Disabling the form took the keyboard away: the player types the next try without a click.
        giveKeyboardTo(state, formEditToType(state));
        break;
    default:
        return;
    }
    invalidate(state);
}

void refreshProgress(LauncherWindow& state) {
    std::wstring label;
    std::uint64_t done = 0, total = 0;
    {
        std::lock_guard guard(state.progressLock);
        label = state.progressLabel;
        done = state.progressDone;
        total = state.progressTotal;
        state.progressPosted = false;
    }
    if (!state.downloading && !state.updatingLauncher) return;
    const ProgressCaption caption = progressCaption(label, done, total);
    const LONG_PTR style = ::GetWindowLongPtrW(state.progressBar, GWL_STYLE);
    if (caption.percent) {
        ::SendMessageW(state.progressBar, PBM_SETMARQUEE, FALSE, 0);
        ::SetWindowLongPtrW(state.progressBar, GWL_STYLE, style & ~static_cast<LONG_PTR>(PBS_MARQUEE));
        ::SendMessageW(state.progressBar, PBM_SETPOS, static_cast<WPARAM>(*caption.percent), 0);
    } else {
        ::SetWindowLongPtrW(state.progressBar, GWL_STYLE, style | PBS_MARQUEE);
        ::SendMessageW(state.progressBar, PBM_SETMARQUEE, TRUE, 30);
    }
    state.progressCaption = caption.text;
    invalidate(state);
}

void cancelDownload(LauncherWindow& state) {
    logEvent("window.cancel_download", {{"launcher", state.updatingLauncher}});
    // Cancelling the launcher's own update leaves the client check to go on with this build.
    const auto& token = state.updatingLauncher ? state.launcherToken : state.clientToken;
    if (token) cancel(*token);
    ::EnableWindow(state.cancelDownloadButton, FALSE);
}

void openRegistrationPage(LauncherWindow& state) {
    const auto result = reinterpret_cast<INT_PTR>(::ShellExecuteW(
        state.window, L"open", state.registrationPage.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    if (result <= 32) informationBox(state, L"无法打开系统默认浏览器，请检查默认浏览器设置后重试。");
}

void closeLauncher(LauncherWindow& state) {
    if (state.closing) return;
    logEvent("window.close");
    state.closing = true;
    endWorkersAndWindow(state);
}

void releaseWindow(LauncherWindow& state) {
    if (state.window == nullptr || !::IsWindow(state.window)) return;
    ::SetWindowLongPtrW(state.window, GWLP_USERDATA, 0);
    state.closing = true;
    endWorkersAndWindow(state);
}

} // namespace launcher
