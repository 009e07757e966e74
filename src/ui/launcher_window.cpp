#include "ui/launcher_window.h"

#include "ui/launcher_flow.h"

namespace launcher {

LauncherWindow::LauncherWindow(LauncherConfig configuration)
    : config(std::move(configuration)), credentials(openCredentialStore(loginProxyUrl(config))),
      editBrush(::CreateSolidBrush(RGB(14, 16, 12))), backgroundBrush(::CreateSolidBrush(RGB(18, 19, 14))) {}

LauncherWindow::~LauncherWindow() {
    releaseWindow(*this);
    // Without a window (its creation failed) a worker may still run.
    if (clientToken) cancel(*clientToken);
    if (loginToken) cancel(*loginToken);
    for (auto& [slot, thread] : workers)
        if (thread.joinable()) thread.join();
}

} // namespace launcher
