#pragma once

#include "account/login_reply.h"
#include "config/launcher_config.h"
#include "foundation/cancel_token.h"

#include <string>
#include <string_view>

namespace launcher {

inline constexpr std::size_t maxAccountLength = 128;
inline constexpr std::size_t maxPasswordLength = 256;

// Account not blank after trimming and at most 128 units; password not empty and at most 256.
bool isValidCredentialInput(std::wstring_view account, std::wstring_view password);

// Signs the player in with the configured login service. Blocking; runs on a worker. Throws
// Error with the player's sentence, or Canceled.
LoginResult login(const LauncherConfig& config, std::wstring_view account, std::wstring_view password,
                  CancelToken& token);

} // namespace launcher
