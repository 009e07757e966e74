#pragma once

#include "ui/launcher_window.h"

namespace launcher {

// What the entry point was built with: its version and its update channel (an empty address turns
// the channel off).
struct LauncherBuild {
    std::string version;
    std::wstring updateManifestUrl;
    std::string updatePublicKey; // ECDSA P-256, X‖Y in hexadecimal
};

// The whole program: platform start-up, configuration, the window and its message loop, and
// teardown. Refuses to run from the user's temporary folder before anything is written. Shows
// start-up failures in an error box. Returns the exit code (0, or 1 after a start-up failure).
int runLauncher(HINSTANCE instance, int showState, const LauncherBuild& build);

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
