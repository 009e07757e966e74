#include "ui/form_controls.h"

#include "ui/window_painting.h"

#include <commctrl.h>
#include <uxtheme.h>

namespace launcher {
namespace {

HFONT addControlFont(LauncherWindow& state, int size) {
    state.fonts.push_back(makeUiFont(size));
    return state.fonts.back().get();
}

HWND makeControl(LauncherWindow& state, const wchar_t* type, const wchar_t* text, DWORD style, int x, int y,
                 int width, int height, int id) {
    return ::CreateWindowExW(0, type, text, style, x, y, width, height, state.window,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                             reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(state.window, GWLP_HINSTANCE)),
                             nullptr);
}

void setFont(HWND control, HFONT font) {
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

} // namespace

void createControls(LauncherWindow& state) {
    constexpr DWORD editStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL;
    constexpr DWORD ownerDrawn = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW;
    const HFONT editFont = addControlFont(state, 12);
    state.accountEdit = makeControl(state, L"EDIT", L"", editStyle, 353, 306, 256, 22, accountEditId);
    state.passwordEdit =
        makeControl(state, L"EDIT", L"", editStyle | ES_PASSWORD, 353, 378, 221, 22, passwordEditId);
    ::SendMessageW(state.accountEdit, EM_LIMITTEXT, 128, 0);
    ::SendMessageW(state.passwordEdit, EM_LIMITTEXT, 256, 0);
    ::SendMessageW(state.accountEdit, EM_SETCUEBANNER, TRUE,
                   reinterpret_cast<LPARAM>(L"请输入平台账号或手机号"));
    ::SendMessageW(state.passwordEdit, EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(L"请输入密码"));
    setFont(state.accountEdit, editFont);
    setFont(state.passwordEdit, editFont);

    state.showPasswordButton =
        makeControl(state, L"BUTTON", L"显示密码", ownerDrawn, 584, 374, 32, 28, showPasswordButtonId);
    state.rememberCheck =
        makeControl(state, L"BUTTON", L"记住账号密码", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX,
                    342, 416, 155, 19, rememberCheckId);
    ::SetWindowTheme(state.rememberCheck, L"", L""); // so the colour messages apply
    setFont(state.rememberCheck, addControlFont(state, 11));
    state.enterGameButton =
        makeControl(state, L"BUTTON", L"进 入 游 戏", ownerDrawn, 342, 462, 278, 36, enterGameButtonId);
    const HWND registerButton =
        makeControl(state, L"BUTTON", L"注册账号 ↗", ownerDrawn, 401, 145, 91, 34, registerButtonId);
    const HWND minimiseButton =
        makeControl(state, L"BUTTON", L"—", ownerDrawn, 837, 90, 34, 31, minimiseButtonId);
    const HWND closeButton = makeControl(state, L"BUTTON", L"×", ownerDrawn, 880, 90, 34, 31, closeButtonId);
    state.cancelDownloadButton =
        makeControl(state, L"BUTTON", L"取消下载", ownerDrawn, 811, 550, 74, 29, cancelDownloadButtonId);
    ::ShowWindow(state.cancelDownloadButton, SW_HIDE);
    // Tab follows the order of the window's children: cancelling a download comes before the
    // title bar's buttons, where it would be read.
    ::SetWindowPos(state.cancelDownloadButton, registerButton, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    state.progressBar =
        makeControl(state, PROGRESS_CLASSW, L"", WS_CHILD | PBS_SMOOTH, 323, 584, 562, 6, progressBarId);
    ::SendMessageW(state.progressBar, PBM_SETRANGE32, 0, 100);
    // A themed bar ignores its colours and shows the system's green or blue on white. A class list
    // that names no theme class turns theming off (Wine ignores an empty one).
    ::SetWindowTheme(state.progressBar, L" ", L" ");
    ::SendMessageW(state.progressBar, PBM_SETBARCOLOR, 0, RGB(177, 141, 75));
    ::SendMessageW(state.progressBar, PBM_SETBKCOLOR, 0, RGB(38, 36, 28));
    state.statusLabel = makeControl(state, L"STATIC", state.session.view().status.c_str(),
                                    WS_CHILD | WS_VISIBLE | SS_ENDELLIPSIS, 342, 438, 278, 18, statusLabelId);
    setFont(state.statusLabel, addControlFont(state, 10));

    // The labels beside the edits are painted into the skin, and the buttons' texts are drawn
    // glyphs or spaced letters: screen readers get words.
    const std::pair<HWND, const wchar_t*> names[] = {{state.accountEdit, L"账号"},
                                                     {state.passwordEdit, L"密码"},
                                                     {state.showPasswordButton, L"显示密码"},
                                                     {state.enterGameButton, L"进入游戏"},
                                                     {registerButton, L"注册账号"},
                                                     {minimiseButton, L"最小化"},
                                                     {closeButton, L"关闭"},
                                                     {state.cancelDownloadButton, L"取消下载"},
                                                     {state.progressBar, L"下载进度"}};
    for (const auto& [control, text] : names)
        state.accessible.name(control, text);
    // The eye is a toggle: pressed in while the password shows, its name the same either way.
    state.accessible.setPressed(state.showPasswordButton, false);
}

void setPasswordVisible(LauncherWindow& state, bool visible, bool giveFocus) {
    DWORD start = 0, end = 0;
    ::SendMessageW(state.passwordEdit, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                   reinterpret_cast<LPARAM>(&end));
    state.passwordVisible = visible;
    ::SendMessageW(state.passwordEdit, EM_SETPASSWORDCHAR, visible ? 0 : 0x25CF, 0);
    ::SetWindowTextW(state.showPasswordButton, visible ? L"隐藏密码" : L"显示密码");
    state.accessible.setPressed(state.showPasswordButton, visible);
    ::InvalidateRect(state.passwordEdit, nullptr, TRUE);
    ::InvalidateRect(state.showPasswordButton, nullptr, TRUE);
    ::SendMessageW(state.passwordEdit, EM_SETSEL, start, end);
    if (giveFocus) ::SetFocus(state.passwordEdit);
}

} // namespace launcher
