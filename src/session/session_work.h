#pragma once

// The work the real launcher's session runs: the update channel and the launcher's own update, the
// install pipeline, the readiness check, the login service and the game.
#include "session/launcher_session.h"
#include "update/update_channel.h"

#include <filesystem>
#include <string>

namespace launcher {

// What the launcher needs to replace itself: the channel it follows, the version it calls itself,
// and where it runs from. Read each time a check runs.
struct SelfUpdate {
    UpdateChannel channel; // off without an address
    std::string version;   // empty: never replaced
    std::filesystem::path executable;
    std::filesystem::path workingDirectory;
};

// The session's work as the launcher does it; `update` must outlive the session.
SessionWork launcherWork(const SelfUpdate& update);

} // namespace launcher
