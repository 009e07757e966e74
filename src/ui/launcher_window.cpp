#include "ui/launcher_window.h"

namespace launcher {

LauncherWindow::LauncherWindow(LauncherConfig configuration)
    : config(std::move(configuration)), credentials(openCredentialStore(loginProxyUrl(config))),
      editBrush(::CreateSolidBrush(RGB(14, 16, 12))), backgroundBrush(::CreateSolidBrush(RGB(18, 19, 14))) {}

LauncherWindow::~LauncherWindow() {
    if (clientToken) cancel(*clientToken);
    if (loginToken) cancel(*loginToken);
    for (auto& [slot, thread] : workers)
        if (thread.joinable()) thread.join();
}

} // namespace launcher
