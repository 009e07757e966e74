#pragma once

// The launcher's window class and procedure and the message loop: each message goes to the face,
// the form or the session's window side. Window thread only.
#include "ui/launcher_window.h"

namespace launcher {

// Registers the window class (once) and creates the launcher's borderless window centred in the
// work area; WM_CREATE builds the face and starts the client check. Throws
// Error("无法创建启动器窗口。").
HWND createLauncherWindow(LauncherWindow& state, HINSTANCE instance);

// Handles one message of the loop: Enter in either edit box starts the login, Tab and Shift+Tab
// move between the controls, everything else is dispatched.
void dispatchLauncherMessage(LauncherWindow& state, MSG& message);

// Runs the message loop until the window is destroyed, with Enter in either edit box starting the
// login and Tab moving between the controls.
void runMessageLoop(LauncherWindow& state);

} // namespace launcher
