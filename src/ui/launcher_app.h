#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace launcher {

// What the entry point was built with: its version and its update channel (an empty address turns
// the channel off).
struct LauncherBuild {
    std::string version;
    std::wstring updateManifestUrl;
    std::vector<std::string> updatePublicKeys; // ECDSA P-256, X‖Y in hexadecimal
};

// The whole program: platform start-up, configuration, the window and its message loop, and
// teardown. Refuses to run from the user's temporary folder before anything is written. Shows
// start-up failures in an error box. Returns the exit code (0, or 1 after a start-up failure).
int runLauncher(HINSTANCE instance, int showState, const LauncherBuild& build);

} // namespace launcher
