#pragma once

#include "account/login_exchange.h"
#include "config/launcher_config.h"
#include "foundation/cancel_token.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace launcher {

inline constexpr std::chrono::milliseconds gameWindowWaitLimit{30000};

// The text in double quotes, escaped so that CommandLineToArgvW gives it back unchanged.
std::wstring quoteArgument(std::wstring_view text);

// "exe" "extra arguments…" "uid:…" "token:…", every item quoted. Throws
// Error("游戏登录参数不完整。") for an unusable login result and
// Error("额外启动参数不能保存登录凭证。") for an extra argument that could pass for one.
std::wstring buildGameCommandLine(const LauncherConfig& config, const LoginResult& result);

// Starts the installed game with the login result and returns once it shows a visible, unowned
// top-level window. The game's process id goes to `processId` (if given) as soon as it exists.
// Whatever happens after the start, the game keeps running. Throws Error with the player's
// sentence or Canceled. Blocking; runs on the login worker.
void launchGame(const LauncherConfig& config, const LoginResult& result, CancelToken& token,
                std::atomic<std::uint32_t>* processId = nullptr);

// launchGame with another window wait limit; the launcher always uses gameWindowWaitLimit.
void launchGameForTesting(const LauncherConfig& config, const LoginResult& result, CancelToken& token,
                          std::atomic<std::uint32_t>* processId, std::chrono::milliseconds windowWaitLimit);

} // namespace launcher
