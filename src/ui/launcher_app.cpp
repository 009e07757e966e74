#include "ui/launcher_app.h"

#include "config/config_validation.h"
#include "filesystem/directory_links.h"
#include "foundation/diagnostic_log.h"
#include "foundation/error.h"
#include "foundation/launcher_data_folder.h"
#include "foundation/own_executable.h"
#include "foundation/text.h"
#include "ui/startup_trace.h"
#include "ui/temporary_folder.h"
#include "ui/window_procedure.h"
#include "ui/window_skin.h"
#include "net/file_digest.h"
#include "update/launcher_replacement.h"
#include "update/update_channel.h"

#include <commctrl.h>

#include <filesystem>
#include <future>
#include <optional>

namespace launcher {
namespace {

// %LOCALAPPDATA%\K3Gatehouse\Logs, beside the remembered credentials; empty (no log) when the
// folder cannot be found or lies behind a directory link.
std::filesystem::path logDirectory() noexcept {
    try {
        const std::optional<std::filesystem::path> folder = launcherDataFolder();
        if (!folder) return {};
        const std::filesystem::path directory = *folder / L"Logs";
        rejectDirectoryLinks(directory);
        return directory;
    } catch (...) {
        return {};
    }
}

// A start-up failure's box. A quit message still queued would close it at once.
void showStartupFailure(const wchar_t* text, const wchar_t* caption) {
    logEvent("startup.failed", {{"text", text}});
    MSG quit;
    while (::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
    ::MessageBoxW(nullptr, text, caption, MB_ICONERROR);
}

// What support needs to know of this build: which one it is (its digest), and whether and by
// which keys it follows an update channel (the names its kept manifests and sequences carry).
void logStart(const LauncherBuild& build, const std::filesystem::path& ownDirectory) noexcept {
    try {
        std::string keys;
        for (const std::string& key : build.updatePublicKeys) {
            if (!keys.empty()) keys += ',';
            keys += updateKeyFingerprint(key);
        }
        std::string digest;
        try {
            digest = sha256OfFile(ownExecutablePath());
        } catch (...) {
            digest = "unreadable";
        }
        logEvent("launcher.start", {{"version", build.version},
                                    {"directory", ownDirectory},
                                    {"updates", build.updateManifestUrl.empty() ? "off" : "on"},
                                    {"keys", keys},
                                    {"sha256", digest}});
    } catch (...) {
    }
}

// The skin's decoding is pure work that nothing before the window needs: another core does it
// while start-up goes on. Without a thread for it, the window decodes it itself.
std::future<PngImage> decodeSkinMeanwhile() noexcept {
    try {
        return std::async(std::launch::async, decodeSkin);
    } catch (...) {
        return {};
    }
}

struct ComApartment {
    ComApartment() { ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~ComApartment() { ::CoUninitialize(); }
};

struct GdiplusSession {
    ULONG_PTR token = 0;
    GdiplusSession() {
        Gdiplus::GdiplusStartupInput input;
        Gdiplus::GdiplusStartup(&token, &input, nullptr);
    }
    ~GdiplusSession() { Gdiplus::GdiplusShutdown(token); }
};

} // namespace

int runLauncher(HINSTANCE instance, int showState, const LauncherBuild& build) {
    markStartup("main");
    std::future<PngImage> skin = decodeSkinMeanwhile();
    ::SetProcessDPIAware();
    // Entered once the first frame is painted: nothing before it needs COM.
    std::optional<ComApartment> com;
    const GdiplusSession gdiplus;
    markStartup("gdiplus");
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);
    markStartup("commonControls");
    setLogThreadName("window");
    const DiagnosticLog log(logDirectory());
    try {
        // Before the configuration: loading it may rewrite launcher.config.json beside us.
        const std::filesystem::path ownDirectory = ownExecutablePath().parent_path();
        logStart(build, ownDirectory);
        markStartup("log");
        refuseTemporaryFolder(ownDirectory);
        LauncherConfig config = loadLauncherConfig(ownDirectory);
        validateLauncherConfig(config);
        logEvent("config.valid", {{"installDirectory", installDirectory(config)}});
        markStartup("config");
        LauncherWindow state(std::move(config));
        state.skinDecoding = std::move(skin);
        markStartup("credentialStore");
        SelfUpdate& update = state.selfUpdate;
        update.executable = ownExecutablePath();
        update.workingDirectory = std::filesystem::current_path();
        update.version = build.version;
        if (!build.updateManifestUrl.empty()) {
            const std::filesystem::path logs = logDirectory();
            update.channel = UpdateChannel{build.updateManifestUrl, build.updatePublicKeys,
                                           logs.empty() ? logs : logs.parent_path() / L"Updates"};
        }
        HWND window = createLauncherWindow(state, instance);
        markStartup("window");
        ::ShowWindow(window, showState);
        markStartup("show");
        ::UpdateWindow(window);
        markStartup("paint");
        logStartupSteps();
        com.emplace();
        state.accessible.connect();
        // The build this one replaced stays until this one has shown that it starts.
        if (!build.updateManifestUrl.empty()) removeReplacedLauncher(update.executable);
        runMessageLoop(state);
        // The build this one replaced was still closing at start; by now it is gone.
        if (!build.updateManifestUrl.empty()) removeReplacedLauncher(update.executable);
        logEvent("launcher.exit");
        return 0;
    } catch (const Error& error) {
        showStartupFailure(multiByteToUtf16(error.what(), codePageUtf8).c_str(), launcherWindowTitle);
    } catch (...) {
        try {
            throw;
        } catch (const std::exception& error) {
            logEvent("startup.error", {{"what", error.what()}});
        } catch (...) {
        }
        showStartupFailure(L"无法读取启动器配置或创建界面，请重新安装后重试。", L"曜石纪元");
    }
    return 1;
}

} // namespace launcher
