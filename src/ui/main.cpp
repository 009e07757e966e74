// Entry point of Gatehouse.exe. The launcher takes no command-line options; the version and the
// update channel come from the build.
#include "ui/launcher_app.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showState) {
    return launcher::runLauncher(
        instance, showState, {LAUNCHER_VERSION, LAUNCHER_UPDATE_MANIFEST_URL, LAUNCHER_UPDATE_PUBLIC_KEY});
}
