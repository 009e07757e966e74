#include "ui/window_procedure.h"

#include "foundation/diagnostic_log.h"
#include "foundation/error.h"
#include "foundation/resources.h"
#include "foundation/text.h"
#include "ui/form_controls.h"
#include "ui/launcher_flow.h"
#include "ui/startup_trace.h"
#include "ui/window_painting.h"
#include "ui/window_placement.h"
#include "ui/window_skin.h"

#include <commctrl.h>

namespace launcher {
namespace {

constexpr const wchar_t* className = L"PCtalvoNativeLauncher";

LauncherWindow* stateOf(HWND window) {
    return reinterpret_cast<LauncherWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
}

void onCommand(LauncherWindow& state, int id, int code) {
    if (id == accountEditId || id == passwordEditId) {
        // Remembered credentials follow the typing 400 ms after the last keystroke.
        if (code == EN_CHANGE && !state.suppressEditNotifications && state.session.view().formEnabled) {
            ::KillTimer(state.window, rememberTimerId);
            ::SetTimer(state.window, rememberTimerId, 400, nullptr);
        }
        return;
    }
    if (code != 0) return;
    switch (id) {
    case rememberCheckId:
        syncRememberedCredentials(state, true);
        break;
    case enterGameButtonId:
        startLoginAndLaunch(state);
        break;
    case registerButtonId:
        openRegistrationPage(state);
        break;
    case cancelDownloadButtonId:
        cancelDownload(state);
        break;
    case minimiseButtonId:
        ::ShowWindow(state.window, SW_MINIMIZE);
        break;
    case closeButtonId:
        closeLauncher(state);
        break;
    case showPasswordButtonId:
        if (state.session.view().formEnabled) setPasswordVisible(state, !state.passwordVisible, true);
        break;
    default:
        break;
    }
}

// The control to give the keyboard to: the one that had it before the window was deactivated, else
// the form's next edit; nullptr while neither can take it (the form is disabled during a login).
HWND keyboardTarget(const LauncherWindow& state) {
    for (HWND control : {state.focusBeforeDeactivation, formEditToType(state)})
        if (control != nullptr && ::IsWindow(control) && ::IsWindowEnabled(control) &&
            ::IsWindowVisible(control))
            return control;
    return nullptr;
}

// Like a dialog box, the window keeps the keyboard on its control while another window (an
// information box, another program) is active. Default processing would focus the window
// itself, where typing and Enter go nowhere.
void onActivate(LauncherWindow& state, bool active) {
    if (!active) {
        const HWND focus = ::GetFocus();
        state.focusBeforeDeactivation = ::IsChild(state.window, focus) ? focus : nullptr;
        return;
    }
    if (::IsIconic(state.window)) return; // WM_SETFOCUS follows once it is restored
    const HWND control = keyboardTarget(state);
    ::SetFocus(control != nullptr ? control : state.window);
}

LRESULT dispatch(LauncherWindow& state, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        markStartup("createWindow");
        applySkin(state);
        createControls(state);
        markStartup("controls");
        fillRememberedForm(state);
        markStartup("rememberedForm");
        startClientCheck(state);
        markStartup("checkStarted");
        return 0;
    case WM_DESTROY:
        // Properties set on a control outlive it in the accessibility services unless cleared.
        state.accessible.forgetAll();
        ::PostQuitMessage(0);
        return 0;
    case WM_ACTIVATE:
        onActivate(state, LOWORD(wParam) != WA_INACTIVE);
        return 0;
    case WM_SETFOCUS:
        if (const HWND control = keyboardTarget(state)) ::SetFocus(control);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = ::BeginPaint(window, &paint);
        paintWindow(state, dc);
        ::EndPaint(window, &paint);
        return 0;
    }
    case WM_CLOSE:
        closeLauncher(state);
        return 0;
    case WM_ERASEBKGND:
        return 1; // painting covers the whole client area
    case WM_DRAWITEM:
        drawOwnerButton(state, *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return 1;
    case WM_COMMAND:
        onCommand(state, LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_TIMER:
        if (wParam == rememberTimerId) {
            ::KillTimer(window, rememberTimerId);
            syncRememberedCredentials(state, false);
        }
        return 0;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC:
        return reinterpret_cast<LRESULT>(
            controlColour(state, message, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam)));
    case WM_LBUTTONDOWN:
        // A press anywhere on the window's own surface drags the window.
        ::ReleaseCapture();
        ::SendMessageW(window, WM_NCLBUTTONDOWN, HTCAPTION, 0);
        return 0;
    case workerResultMessage: {
        const std::unique_ptr<WorkerResult> record(reinterpret_cast<WorkerResult*>(lParam));
        if (!state.session.closing()) handleWorkerResult(state, std::move(*record));
        return 0;
    }
    case workerProgressMessage:
        refreshProgress(state);
        return 0;
    default:
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

void showFailure(HWND owner, const wchar_t* text) {
    logEvent("window.failure", {{"text", text}});
    ::MessageBoxW(owner, text, launcherWindowTitle, MB_ICONINFORMATION);
}

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    if (message == WM_NCCREATE) {
        auto* state = static_cast<LauncherWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        state->window = window;
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
    LauncherWindow* state = stateOf(window);
    if (state == nullptr) return ::DefWindowProcW(window, message, wParam, lParam);
    // No exception may cross into the system's code that called us.
    try {
        return dispatch(*state, window, message, wParam, lParam);
    } catch (const Error& error) {
        try {
            showFailure(window, multiByteToUtf16(error.what(), codePageUtf8).c_str());
        } catch (...) {
        }
    } catch (...) {
        logEvent("window.error", {{"message", message}});
        showFailure(window, L"操作失败，请检查文件、配置和目录权限后重试。");
    }
    if (message != WM_CREATE) return ::DefWindowProcW(window, message, wParam, lParam);
    // The failed window is destroyed next: its WM_DESTROY must not post a quit, which would close
    // the start-up error box the moment it opens.
    ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    return -1;
}

// The window's own buttons, which are all drawn by it; not the remember box, which Space ticks.
bool isPushButton(const LauncherWindow& state, HWND control) {
    if (::GetParent(control) != state.window) return false;
    switch (::GetDlgCtrlID(control)) {
    case showPasswordButtonId:
    case enterGameButtonId:
    case registerButtonId:
    case cancelDownloadButtonId:
    case minimiseButtonId:
    case closeButtonId:
        return true;
    default:
        return false;
    }
}

} // namespace

HWND createLauncherWindow(LauncherWindow& state, HINSTANCE instance) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(iconResourceId));
    windowClass.hIconSm = windowClass.hIcon;
    windowClass.hbrBackground = state.backgroundBrush.get();
    windowClass.lpszClassName = className;
    WNDCLASSEXW existing{};
    if (!::GetClassInfoExW(instance, className, &existing)) ::RegisterClassExW(&windowClass);

    RECT workArea{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0);
    const WindowOrigin origin = centredWindowOrigin(workArea.left, workArea.top, workArea.right,
                                                    workArea.bottom, windowWidth, windowHeight);
    HWND window = ::CreateWindowExW(WS_EX_APPWINDOW, className, launcherWindowTitle,
                                    WS_POPUP | WS_CLIPCHILDREN | WS_MINIMIZEBOX, origin.x, origin.y,
                                    windowWidth, windowHeight, nullptr, nullptr, instance, &state);
    if (window == nullptr) throw Error("无法创建启动器窗口。");
    return window;
}

void dispatchLauncherMessage(LauncherWindow& state, MSG& message) {
    if (message.message == WM_KEYDOWN && message.wParam == VK_RETURN &&
        (message.hwnd == state.accountEdit || message.hwnd == state.passwordEdit)) {
        // An exception ends the program; the record's teardown takes the window with it before the
        // error box opens.
        startLoginAndLaunch(state);
        return;
    }
    if (message.message == WM_KEYDOWN && message.wParam == VK_RETURN && isPushButton(state, message.hwnd) &&
        ::IsWindowEnabled(message.hwnd)) {
        // Enter presses the focused button, as Space does: the window is no dialog, whose manager
        // would send Enter to a default button.
        ::SendMessageW(state.window, WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(message.hwnd), BN_CLICKED),
                       reinterpret_cast<LPARAM>(message.hwnd));
        return;
    }
    if (::IsDialogMessageW(state.window, &message)) return;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
}

void runMessageLoop(LauncherWindow& state) {
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0)
        dispatchLauncherMessage(state, message);
}

} // namespace launcher
