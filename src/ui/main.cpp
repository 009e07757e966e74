// Entry point of Gatehouse.exe. The launcher takes no command-line options.
#include "ui/launcher_app.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showState) {
    return launcher::runLauncher(instance, showState);
}
