#pragma once

// The launcher's behaviour behind the form, without a window: the client check when the window
// opens (and the launcher's own update within it), the download, the login and launch, and what the
// player is shown meanwhile. The long work runs on worker threads; each reports back through the
// owner's SessionLink, and the owner hands the report to handle() on its own thread. Everything
// here runs on the owner's thread unless it says otherwise.
#include "account/login_reply.h"
#include "config/launcher_config.h"
#include "foundation/cancel_token.h"
#include "foundation/progress.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <variant>

namespace launcher {

enum class Phase {
    checking,         // the installed client is being checked
    updatingLauncher, // within the check: a newer launcher build is being fetched
    downloading,      // the client is being downloaded and installed
    notReady,         // the check or the download failed or was cancelled
    ready,            // the client is installed: the player may sign in
    loggingIn,        // the form is disabled while the login runs
    launching,        // the login was accepted and the game is being started
    closing,          // the launcher is closing
};

enum class StatusKind { normal, error, success };

// What the window shows of the session. The window draws it after every call that changes it.
struct SessionView {
    Phase phase = Phase::checking;
    std::wstring status = L"请输入账号和密码";
    StatusKind statusKind = StatusKind::normal;
    std::wstring caption = L"正在检查客户端…";
    bool downloadShown = false; // the progress bar and the cancel button
    bool cancelEnabled = false;
    std::optional<int> percent; // the bar's position; none while shown: a marquee
    bool formEnabled = true;
};

// Where the keyboard goes after a call: to the form's next edit (the account while it is blank,
// else the password) at once, or as soon as the window is active.
enum class FormFocus { unchanged, now, whenActive };

// What a call asks of the window besides drawing the view.
struct SessionEffects {
    std::wstring box;           // an information box to show, when not empty
    bool hidePassword = false;  // a login starts: the password goes back to dots
    bool clearPassword = false; // the login was accepted
    FormFocus focus = FormFocus::unchanged;
    bool close = false; // the launcher's work is done
};

// What the check worker found.
struct CheckOutcome {
    enum class Kind { ready, missing, launcherReplaced } kind = Kind::missing;
    std::optional<LauncherConfig> updatedConfig; // an accepted manifest's configuration, followed from now on
};

// What the check worker tells while it runs.
struct CheckReports {
    std::function<void()> launcherUpdateStarted; // a newer launcher build is being fetched
    ProgressCallback progress;
};

// The long work, each called on a worker thread. Failures are exceptions, as the rooms below throw
// them; Canceled once the token given is cancelled.
struct SessionWork {
    // The update check, the launcher's own update (cancelled through the second token alone) and the
    // installed-client check.
    std::function<CheckOutcome(const LauncherConfig&, CancelToken& check, CancelToken& launcherUpdate,
                               const CheckReports&)>
        check;
    std::function<void(const LauncherConfig&, CancelToken&, const ProgressCallback&)> install;
    // Whether the installed client is still complete, before a login.
    std::function<bool(const LauncherConfig&, CancelToken&)> verify;
    std::function<LoginResult(const LauncherConfig&, std::wstring_view account, std::wstring_view password,
                              CancelToken&)>
        login;
    // Starts the game, stores its process id and returns once its window is seen.
    std::function<void(const LauncherConfig&, const LoginResult&, CancelToken&, std::atomic<std::uint32_t>*)>
        launch;
    // Whether the game started earlier still runs; on the owner's thread.
    std::function<bool(std::uint32_t processId)> processRuns;
};

// The reports a worker hands to the owner's thread, one per event.
struct ClientChecked {
    CheckOutcome outcome;
};
struct LauncherUpdateStarted {};
struct ClientInstalled {};
struct ClientFailed { // the check or the download failed or was cancelled
    std::wstring text;
};
struct LoginAccepted {};
struct GameStarted {};
struct LoginFailed {
    std::wstring text;
    std::wstring logText; // what the log may show of text
    bool clientIncomplete = false;
};
using WorkerResult = std::variant<ClientChecked, LauncherUpdateStarted, ClientInstalled, ClientFailed,
                                  LoginAccepted, GameStarted, LoginFailed>;

// How the workers reach the owner's thread; both are called on worker threads and never throw. A
// report that cannot be handed over is lost; at most one progress refresh is asked for at a time.
struct SessionLink {
    std::function<void(WorkerResult)> post;
    std::function<void()> postProgress;
};

class LauncherSession {
public:
    LauncherSession(LauncherConfig config, SessionWork work, SessionLink link);
    // Cancels and joins every worker.
    ~LauncherSession();
    LauncherSession(const LauncherSession&) = delete;
    LauncherSession& operator=(const LauncherSession&) = delete;

    const SessionView& view() const { return view_; }
    // The configuration in force: the configured one, or the one an accepted manifest makes.
    const LauncherConfig& config() const { return config_; }
    // The game started by the last login, or 0. Written by the login worker.
    std::atomic<std::uint32_t>& gameProcessId() { return gameProcessId_; }
    bool closing() const { return view_.phase == Phase::closing; }
    // Whether a worker thread is still held, running or not yet joined.
    bool hasWorkers() const { return clientWorker_.joinable() || loginWorker_.joinable(); }

    // The window exists: the client check starts.
    void start();
    // The enter-game button or Enter in an edit box. `beforeLogin` runs once the form is found
    // complete, right before the login starts (the remembered credentials follow the form then).
    SessionEffects enterGame(const std::wstring& account, const std::wstring& password,
                             const std::function<void()>& beforeLogin = {});
    // The cancel button: ends the download, or the launcher's own update alone.
    void cancelDownload();
    // Something the window did for the player failed: the status says so in the error colour.
    void showFailure(const std::wstring& text);
    SessionEffects handle(WorkerResult result);
    // Takes the latest progress report into the view.
    void refreshProgress();
    // Cancels every worker and enters Closing; false when it was already closing. The owner then
    // hides its window and calls joinWorkers.
    bool beginClose();
    // Waits for every worker to end. Blocks only after beginClose, when every transfer has been told
    // to stop.
    void joinWorkers();

private:
    void setStatus(const std::wstring& text, StatusKind kind, const std::wstring* logText = nullptr);
    void startDownload();
    void startLogin(const std::wstring& account, const std::wstring& password);
    void startWorker(std::thread& slot, std::function<void()> work);
    ProgressCallback progressReporter();
    void showFreshProgress(const wchar_t* caption);
    void hideProgress();
    void onClientChecked(ClientChecked& checked, SessionEffects& effects);
    void onClientDone(bool installed, const std::wstring& failure);
    void onLoginFailed(const LoginFailed& failed, SessionEffects& effects);

    LauncherConfig config_;
    SessionWork work_;
    SessionLink link_;
    SessionView view_;

    // One slot per kind of work: the check or the download, and the login and launch. A slot's
    // thread is joined before the slot or its token is reused.
    std::thread clientWorker_;
    std::thread loginWorker_;
    std::unique_ptr<CancelToken> clientToken_;
    std::unique_ptr<CancelToken> launcherToken_;
    std::unique_ptr<CancelToken> loginToken_;
    std::atomic<std::uint32_t> gameProcessId_{0};

    // The latest progress report, written by a worker and read by refreshProgress.
    std::mutex progressLock_;
    std::wstring progressLabel_;      // guarded by progressLock_
    std::uint64_t progressDone_ = 0;  // guarded by progressLock_
    std::uint64_t progressTotal_ = 0; // guarded by progressLock_
    std::atomic<bool> progressPosted_{false};
};

} // namespace launcher
