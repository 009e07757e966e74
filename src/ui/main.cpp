// Entry point of Gatehouse.exe. The launcher takes no command-line options; the version and the
// update channel come from the build.
#include "ui/launcher_app.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showState) {
    // First of all: the DLLs that are not known DLLs (WinHTTP, CNG, crypt32, the common controls,
    // themes, ...) are delay-loaded, and from here on come from System32 only, never from the
    // folder the launcher was started from. No static initializer of ours calls into them.
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    return launcher::runLauncher(
        instance, showState, {LAUNCHER_VERSION, LAUNCHER_UPDATE_MANIFEST_URL, LAUNCHER_UPDATE_PUBLIC_KEY});
}
