#include "ui/launcher_flow.h"

#include "foundation/diagnostic_log.h"
#include "foundation/secret_text.h"
#include "foundation/text.h"
#include "ui/form_controls.h"

#include <commctrl.h>
#include <shellapi.h>

namespace launcher {
namespace {

void informationBox(const LauncherWindow& state, const std::wstring& text) {
    logEvent("window.message", {{"text", text}});
    ::MessageBoxW(state.window, text.c_str(), launcherWindowTitle, MB_ICONINFORMATION);
}

std::wstring windowText(HWND control) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(
        static_cast<std::size_t>(::GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return text;
}

// Gives the keyboard to `control` now if the window is active, else when it is next activated.
void giveKeyboardTo(LauncherWindow& state, HWND control) {
    state.focusBeforeDeactivation = control;
    if (::GetActiveWindow() == state.window) ::SetFocus(control);
}

void renderProgressBar(HWND bar, std::optional<int> percent) {
    const LONG_PTR style = ::GetWindowLongPtrW(bar, GWL_STYLE);
    if (percent) {
        ::SendMessageW(bar, PBM_SETMARQUEE, FALSE, 0);
        ::SetWindowLongPtrW(bar, GWL_STYLE, style & ~static_cast<LONG_PTR>(PBS_MARQUEE));
        ::SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(*percent), 0);
    } else {
        ::SetWindowLongPtrW(bar, GWL_STYLE, style | PBS_MARQUEE);
        ::SendMessageW(bar, PBM_SETMARQUEE, TRUE, 30);
    }
}

// What a session call asks of the window besides its view. A box runs its own message loop, so it
// comes after the view is drawn.
void apply(LauncherWindow& state, const SessionEffects& effects) {
    if (effects.hidePassword) setPasswordVisible(state, false, false);
    if (effects.clearPassword) ::SetWindowTextW(state.passwordEdit, L"");
    render(state);
    if (effects.focus == FormFocus::now) ::SetFocus(formEditToType(state));
    if (effects.focus == FormFocus::whenActive) giveKeyboardTo(state, formEditToType(state));
    if (!effects.box.empty()) informationBox(state, effects.box);
    if (effects.close) closeLauncher(state);
}

// Cancels and joins every worker, drops the results they queued and destroys the window.
void endWorkersAndWindow(LauncherWindow& state) {
    state.session.beginClose();
    ::ShowWindow(state.window, SW_HIDE);
    state.session.joinWorkers();
    // Results the workers posted meanwhile are dropped, but their records still need freeing.
    MSG message;
    while (::PeekMessageW(&message, state.window, workerResultMessage, workerResultMessage, PM_REMOVE))
        std::unique_ptr<WorkerResult>(reinterpret_cast<WorkerResult*>(message.lParam)).reset();
    ::DestroyWindow(state.window);
}

} // namespace

SessionLink windowLink(LauncherWindow& state) {
    return SessionLink{[&state](WorkerResult result) noexcept {
                           try {
                               auto record = std::make_unique<WorkerResult>(std::move(result));
                               if (::PostMessageW(state.window, workerResultMessage, 0,
                                                  reinterpret_cast<LPARAM>(record.get())))
                                   (void)record.release();
                           } catch (...) {
                           }
                       },
                       [&state]() noexcept { ::PostMessageW(state.window, workerProgressMessage, 0, 0); }};
}

void render(LauncherWindow& state) {
    const SessionView& view = state.session.view();
    SessionView& shown = state.shown;
    const HWND focus = ::GetFocus();
    if (view.status != shown.status) ::SetWindowTextW(state.statusLabel, view.status.c_str());
    if (view.downloadShown != shown.downloadShown) {
        ::ShowWindow(state.cancelDownloadButton, view.downloadShown ? SW_SHOW : SW_HIDE);
        ::ShowWindow(state.progressBar, view.downloadShown ? SW_SHOW : SW_HIDE);
    }
    if (view.cancelEnabled != shown.cancelEnabled)
        ::EnableWindow(state.cancelDownloadButton, view.cancelEnabled);
    if (view.downloadShown && (view.percent != shown.percent || !shown.downloadShown))
        renderProgressBar(state.progressBar, view.percent);
    if (view.formEnabled != shown.formEnabled)
        for (HWND control : {state.enterGameButton, state.accountEdit, state.passwordEdit,
                             state.showPasswordButton, state.rememberCheck})
            ::EnableWindow(control, view.formEnabled);
    shown = view;
    // A control hidden or disabled with the keyboard on it would leave the keys going nowhere: the
    // form's next edit takes them, or the window while the form waits for a login.
    if (focus != nullptr && ::IsChild(state.window, focus) &&
        !(::IsWindowVisible(focus) && ::IsWindowEnabled(focus))) {
        const HWND edit = formEditToType(state);
        ::SetFocus(::IsWindowEnabled(edit) ? edit : state.window);
    }
    ::InvalidateRect(state.window, nullptr, FALSE);
    for (const Announcement& said : state.announcer.update(view)) {
        const bool onStatus = said.source == Announcement::Source::status;
        // The bar draws no text: its window text is the announcement too, which is the name
        // proxies read where annotations are not.
        if (!onStatus) ::SetWindowTextW(state.progressBar, said.text.c_str());
        state.accessible.announce(onStatus ? state.statusLabel : state.progressBar, said.text,
                                  said.politeness);
    }
}

HWND formEditToType(const LauncherWindow& state) {
    return trimWhitespace(windowText(state.accountEdit)).empty() ? state.accountEdit : state.passwordEdit;
}

void startClientCheck(LauncherWindow& state) {
    state.session.start();
    render(state);
}

void startLoginAndLaunch(LauncherWindow& state) {
    const SessionEffects effects =
        state.session.enterGame(windowText(state.accountEdit), windowText(state.passwordEdit),
                                [&state] { syncRememberedCredentials(state, false); });
    apply(state, effects);
}

void fillRememberedForm(LauncherWindow& state) {
    state.suppressEditNotifications = true;
    std::wstring account, password;
    const ScopeExit wipeCopies([&] {
        wipeText(account);
        wipeText(password);
    });
    if (loadCredentials(state.credentials, account, password)) {
        ::SetWindowTextW(state.accountEdit, account.c_str());
        ::SetWindowTextW(state.passwordEdit, password.c_str());
        ::SendMessageW(state.rememberCheck, BM_SETCHECK, BST_CHECKED, 0);
    }
    state.suppressEditNotifications = false;
    ::SetFocus(::GetWindowTextLengthW(state.accountEdit) > 0 ? state.passwordEdit : state.accountEdit);
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
        try {
            throw;
        } catch (const std::exception& error) {
            logEvent("credentials.error", {{"what", error.what()}});
        } catch (...) {
            logEvent("credentials.error");
        }
        state.session.showFailure(L"账号密码保存失败，请检查目录权限。");
        render(state);
    }
}

void handleWorkerResult(LauncherWindow& state, WorkerResult result) {
    apply(state, state.session.handle(std::move(result)));
}

void refreshProgress(LauncherWindow& state) {
    state.session.refreshProgress();
    render(state);
}

void cancelDownload(LauncherWindow& state) {
    state.session.cancelDownload();
    render(state);
}

void openRegistrationPage(LauncherWindow& state) {
    const auto result = reinterpret_cast<INT_PTR>(::ShellExecuteW(
        state.window, L"open", state.registrationPage.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    if (result <= 32) informationBox(state, L"无法打开系统默认浏览器，请检查默认浏览器设置后重试。");
}

void closeLauncher(LauncherWindow& state) {
    if (state.session.closing()) return;
    endWorkersAndWindow(state);
}

void releaseWindow(LauncherWindow& state) {
    if (state.window == nullptr || !::IsWindow(state.window)) return;
    ::SetWindowLongPtrW(state.window, GWLP_USERDATA, 0);
    endWorkersAndWindow(state);
}

} // namespace launcher
