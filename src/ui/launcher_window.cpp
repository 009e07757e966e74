#include "ui/launcher_window.h"

#include "ui/launcher_flow.h"

namespace launcher {

LauncherWindow::LauncherWindow(LauncherConfig configuration)
    : credentials(openCredentialStore(loginProxyUrl(configuration))),
      session(std::move(configuration), launcherWork(selfUpdate), windowLink(*this)),
      editBrush(::CreateSolidBrush(RGB(14, 16, 12))), backgroundBrush(::CreateSolidBrush(windowBackground)) {}

LauncherWindow::~LauncherWindow() {
    releaseWindow(*this);
}

} // namespace launcher
