#include "session/session_work.h"

#include "account/login_exchange.h"
#include "foundation/diagnostic_log.h"
#include "foundation/error.h"
#include "foundation/unique_handle.h"
#include "install/client_install.h"
#include "install/installed_marker.h"
#include "launch/game_launch.h"
#include "update/launcher_replacement.h"

#include <windows.h>

namespace launcher {
namespace {

// Replaces the running launcher with a newer build the manifest offers, and starts that one. False
// when there is nothing to do, replacing failed or the player cancelled it: this launcher then goes
// on as it is.
bool replaceLauncher(const SelfUpdate& update, const LauncherRelease& release, CancelToken& token,
                     const CheckReports& reports) {
    if (update.version.empty() || compareVersions(release.version, update.version) <= 0) return false;
    // A build that calls itself older than the manifest says would otherwise replace itself on
    // every start.
    if (fileHasDigest(update.executable, release.sha256)) {
        logEvent("update.launcher_same_build", {{"version", release.version}});
        return false;
    }
    logEvent("update.launcher_download", {{"from", update.version}, {"to", release.version}});
    reports.launcherUpdateStarted();
    try {
        replaceLauncherExecutable(release, update.executable, token, reports.progress);
    } catch (const Canceled&) {
        logEvent("update.launcher_canceled");
        return false;
    } catch (const std::exception& error) {
        logEvent("update.launcher_failed", {{"reason", error.what()}});
        return false;
    }
    try {
        startLauncherExecutable(update.executable, update.workingDirectory, release.sha256);
    } catch (const Error& error) {
        // The new build is in place and starts next time; this one carries on meanwhile.
        logEvent("update.launcher_not_started", {{"reason", error.what()}});
        return false;
    }
    return true;
}

CheckOutcome checkClient(const SelfUpdate& update, const LauncherConfig& config, CancelToken& token,
                         CancelToken& launcherToken, const CheckReports& reports) {
    std::optional<AcceptedUpdate> accepted =
        refreshUpdateManifest(update.channel, config, currentUtcSeconds(), token);
    if (accepted && accepted->manifest.launcher &&
        replaceLauncher(update, *accepted->manifest.launcher, launcherToken, reports))
        return {CheckOutcome::Kind::launcherReplaced, std::nullopt};
    CheckOutcome outcome;
    if (accepted) outcome.updatedConfig = std::move(accepted->config);
    const bool ready = isInstalledClientReady(outcome.updatedConfig ? *outcome.updatedConfig : config, token);
    outcome.kind = ready ? CheckOutcome::Kind::ready : CheckOutcome::Kind::missing;
    return outcome;
}

bool processRuns(std::uint32_t processId) {
    const UniqueKernelHandle process{::OpenProcess(SYNCHRONIZE, FALSE, processId)};
    return process && ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

} // namespace

SessionWork launcherWork(const SelfUpdate& update) {
    return SessionWork{
        .check =
            [&update](const LauncherConfig& config, CancelToken& token, CancelToken& launcherToken,
                      const CheckReports& reports) {
                return checkClient(update, config, token, launcherToken, reports);
            },
        .install = [](const LauncherConfig& config, CancelToken& token,
                      const ProgressCallback& progress) { installClient(config, token, progress); },
        .verify = isInstalledClientReady,
        .login = login,
        .launch = launchGame,
        .processRuns = processRuns,
    };
}

} // namespace launcher
