#pragma once

// The window's side of the session: it forwards the player's input to the session, draws the
// session's view on the controls, carries the workers' reports to the window thread as messages,
// and keeps the remembered credentials in step with the form. Window thread only, unless a
// function says otherwise.
#include "ui/launcher_window.h"

#include <string>

namespace launcher {

inline constexpr UINT workerResultMessage = WM_APP + 1;
inline constexpr UINT workerProgressMessage = WM_APP + 2;
inline constexpr UINT_PTR rememberTimerId = 1;

// How the session's workers reach `state`'s window: a report travels as a heap record in
// workerResultMessage, owned by the window once posted; a progress refresh is workerProgressMessage.
SessionLink windowLink(LauncherWindow& state);

// Brings the controls in line with the session's view.
void render(LauncherWindow& state);

// The edit the player fills in next: the account edit while the account is blank, else the
// password edit.
HWND formEditToType(const LauncherWindow& state);
void startClientCheck(LauncherWindow& state);
void startLoginAndLaunch(LauncherWindow& state);
// On WM_CREATE, after the controls: fills the form from the remembered credentials, if any, and
// gives the keyboard to the edit the player fills in next.
void fillRememberedForm(LauncherWindow& state);
void syncRememberedCredentials(LauncherWindow& state, bool interactive);
void handleWorkerResult(LauncherWindow& state, WorkerResult result);
void refreshProgress(LauncherWindow& state);
void cancelDownload(LauncherWindow& state);
void openRegistrationPage(LauncherWindow& state);
// Cancels and joins every worker, drops queued results and destroys the window. Idempotent.
void closeLauncher(LauncherWindow& state);
// The record's end: detaches the window first, so that nothing reaches `state` any more and its
// destruction posts no quit, then ends like closeLauncher. Nothing if the window is gone.
void releaseWindow(LauncherWindow& state);

} // namespace launcher
