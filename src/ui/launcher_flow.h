#pragma once

// The launcher's behaviour behind the form: the client check, the download, the login and
// launch, the remembered credentials and closing. Long work runs on worker threads, which never
// touch a control and report only by posting messages; everything here runs on the window thread
// unless it says otherwise.
#include "ui/launcher_window.h"

#include <string>

namespace launcher {

inline constexpr UINT workerResultMessage = WM_APP + 1;
inline constexpr UINT workerProgressMessage = WM_APP + 2;
inline constexpr UINT_PTR rememberTimerId = 1;

// One report of a worker, owned by the window once posted.
struct WorkerResult {
    std::wstring text;
    int kind;
    std::wstring logText; // what the diagnostic log may show of `text`
};

enum WorkerResultKind {
    clientVerified = 1,
    clientMissing = 2,
    clientInstalled = 3,
    clientFailed = 4,
    loginSucceeded = 5,
    gameStarted = 6,
    clientNoLongerVerifies = 7,
    loginFailed = 8,
    launcherUpdating = 9,
    launcherReplaced = 10,
};

// Shows `text` in the status line; an error (kind 1) is also logged, as `logText` when given.
void setStatus(LauncherWindow& state, const std::wstring& text, int kind,
               const std::wstring* logText = nullptr);
// The edit the player fills in next: the account edit while the account is blank, else the
// password edit.
HWND formEditToType(const LauncherWindow& state);
void startClientCheck(LauncherWindow& state);
void startDownload(LauncherWindow& state);
void startLoginAndLaunch(LauncherWindow& state);
void syncRememberedCredentials(LauncherWindow& state, bool interactive);
void handleWorkerResult(LauncherWindow& state, const WorkerResult& result);
void refreshProgress(LauncherWindow& state);
void cancelDownload(LauncherWindow& state);
void openRegistrationPage(LauncherWindow& state);
// Cancels and joins every worker, drops queued results and destroys the window. Idempotent.
void closeLauncher(LauncherWindow& state);
// The record's end: detaches the window first, so that nothing reaches `state` any more and its
// destruction posts no quit, then ends like closeLauncher. Nothing if the window is gone.
void releaseWindow(LauncherWindow& state);

} // namespace launcher
