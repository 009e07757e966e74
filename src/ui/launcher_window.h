#pragma once

// The whole state of the launcher's one window: its controls, its look, and the session whose view
// it shows. The window thread owns every field; the session's workers reach it only by messages.
#include "account/credential_store.h"
#include "config/launcher_config.h"
#include "deployment_values.h"
#include "foundation/resources.h"
#include "foundation/unique_handle.h"
#include "session/launcher_session.h"
#include "session/session_work.h"
#include "session/status_announcer.h"
#include "ui/accessibility.h"
#include "ui/png_image.h"

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <future>
#include <memory>
#include <string>
#include <vector>

namespace launcher {

inline constexpr const wchar_t* launcherWindowTitle = L"曜石纪元 · 启动器";
inline constexpr int windowWidth = 1105;
inline constexpr int windowHeight = 632;
inline constexpr COLORREF windowBackground = RGB(18, 19, 14); // under the skin and the form

// Control ids.
inline constexpr int accountEditId = 1001;
inline constexpr int passwordEditId = 1002;
inline constexpr int rememberCheckId = 1003;
inline constexpr int enterGameButtonId = 1004;
inline constexpr int registerButtonId = 1005;
inline constexpr int cancelDownloadButtonId = 1006;
inline constexpr int minimiseButtonId = 1007;
inline constexpr int closeButtonId = 1008;
inline constexpr int statusLabelId = 1009;
inline constexpr int progressBarId = 1010;
inline constexpr int showPasswordButtonId = 1011;

struct LauncherWindow {
    // Opens the remembered-credentials store for the configured login address; the session takes the
    // configuration.
    explicit LauncherWindow(LauncherConfig configuration);
    LauncherWindow(const LauncherWindow&) = delete;
    LauncherWindow& operator=(const LauncherWindow&) = delete;
    // Detaches and destroys the window if it still exists, so no message can reach the record once
    // it goes; the session then cancels and joins every worker.
    ~LauncherWindow();

    HWND window = nullptr;
    HWND accountEdit = nullptr;
    HWND passwordEdit = nullptr;
    HWND showPasswordButton = nullptr;
    HWND rememberCheck = nullptr;
    HWND enterGameButton = nullptr;
    HWND cancelDownloadButton = nullptr;
    HWND progressBar = nullptr;
    HWND statusLabel = nullptr;

    // The running build's update channel, version, executable and starting directory, for the check
    // and for replacing itself; set before the window opens.
    SelfUpdate selfUpdate;
    CredentialStore credentials;
    // The flow behind the form. Its workers report through window messages.
    LauncherSession session;
    // What the controls show of the session's view, so that only what changed is redrawn.
    SessionView shown;
    // What screen readers are told of the controls and of the view's changes.
    AccessibleWindow accessible;
    StatusAnnouncer announcer;

    UniqueBitmap skin; // the skin laid over the background, copied by each paint
    // The built-in skin's resource. Only tests change it: a missing skin makes window creation fail.
    int skinResourceForTesting = skinResourceId;
    // The skin being decoded on another thread since start-up began, taken by window creation;
    // without it the skin is decoded then.
    std::future<PngImage> skinDecoding;
    std::vector<UniqueFont> fonts; // the 12, 11 and 10 pixel control fonts, in that order
    UniqueBrush editBrush;
    UniqueBrush backgroundBrush;

    // The platform's registration page, opened in the default browser by the register button.
    std::wstring registrationPage = L"https://" + std::wstring(registrationHost) + L"/register.aspx";

    bool suppressEditNotifications = false;
    bool passwordVisible = false;
    // The control given the keyboard back when the window is activated again.
    HWND focusBeforeDeactivation = nullptr;
};

} // namespace launcher
