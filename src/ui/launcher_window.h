#pragma once

// The whole state of the launcher's one window. The window thread owns every field except the
// few shared with workers, which are atomic or guarded by progressLock.
#include "account/credential_store.h"
#include "config/launcher_config.h"
#include "deployment_values.h"
#include "foundation/cancel_token.h"
#include "foundation/resources.h"
#include "foundation/unique_handle.h"
#include "update/update_channel.h"

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace launcher {

inline constexpr int windowWidth = 1105;
inline constexpr int windowHeight = 632;

// Control ids.
inline constexpr int accountEditId = 1001;
inline constexpr int passwordEditId = 1002;
inline constexpr int rememberCheckId = 1003;
inline constexpr int enterGameButtonId = 1004;
inline constexpr int registerButtonId = 1005;
inline constexpr int cancelDownloadButtonId = 1006;
inline constexpr int minimiseButtonId = 1007;
inline constexpr int closeButtonId = 1008;
inline constexpr int statusLabelId = 1009;
inline constexpr int progressBarId = 1010;
inline constexpr int showPasswordButtonId = 1011;

struct LauncherWindow {
    // Opens the remembered-credentials store for the configured login address.
    explicit LauncherWindow(LauncherConfig configuration);
    LauncherWindow(const LauncherWindow&) = delete;
    LauncherWindow& operator=(const LauncherWindow&) = delete;
    // Detaches and destroys the window if it still exists, so no message can reach the record once
    // it goes; cancels both tokens and joins every worker before anything else goes.
    ~LauncherWindow();

    HWND window = nullptr;
    HWND accountEdit = nullptr;
    HWND passwordEdit = nullptr;
    HWND showPasswordButton = nullptr;
    HWND rememberCheck = nullptr;
    HWND enterGameButton = nullptr;
    HWND cancelDownloadButton = nullptr;
    HWND progressBar = nullptr;
    HWND statusLabel = nullptr;

    LauncherConfig config;
    // Off unless the build names a manifest address. The check worker follows an accepted
    // manifest: it leaves the configuration it makes in updatedConfig, which the window takes over
    // once the worker has been joined.
    UpdateChannel updateChannel;
    std::optional<LauncherConfig> updatedConfig;
    // The running build's version, executable and starting directory, for replacing itself.
    std::string version;
    std::filesystem::path executable;
    std::filesystem::path workingDirectory;
    CredentialStore credentials;
    std::unique_ptr<Gdiplus::Bitmap> skin;
    // The built-in skin's resource. Only tests change it: a missing skin makes window creation fail.
    int skinResourceForTesting = skinResourceId;
    std::vector<UniqueFont> fonts; // the 12, 11 and 10 pixel control fonts, in that order
    UniqueBrush editBrush;
    UniqueBrush backgroundBrush;

    std::map<int, std::thread> workers; // slot 1: check or download; slot 2: login and launch
    std::unique_ptr<CancelToken> clientToken;
    std::unique_ptr<CancelToken> loginToken;
    // A newer launcher build being downloaded by the check worker: the cancel button ends that
    // download alone, and the check goes on with the running build.
    std::unique_ptr<CancelToken> launcherToken;
    std::atomic<std::uint32_t> gameProcessId{0};

    std::atomic<bool> progressPosted{false};
    std::mutex progressLock;
    std::wstring progressLabel;      // guarded by progressLock
    std::uint64_t progressDone = 0;  // guarded by progressLock
    std::uint64_t progressTotal = 0; // guarded by progressLock

    // The platform's registration page, opened in the default browser by the register button.
    std::wstring registrationPage = L"https://" + std::wstring(registrationHost) + L"/register.aspx";

    std::wstring statusText = L"请输入账号和密码";
    std::wstring progressCaption = L"正在检查客户端…";
    bool downloading = false;
    bool updatingLauncher = false;
    bool clientReady = false;
    bool loginBusy = false;
    bool checking = true;
    bool closing = false;
    bool suppressEditNotifications = false;
    bool passwordVisible = false;
    int statusKind = 0; // 0 normal, 1 error (error colour), 2 success (drawn like normal)
    // The control given the keyboard back when the window is activated again.
    HWND focusBeforeDeactivation = nullptr;
};

} // namespace launcher
