#pragma once

#include "config/launcher_config.h"
#include "foundation/cancel_token.h"
#include "foundation/text.h" // hasControlCharacter, part of the reply rules

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

namespace launcher {

// What the login service hands back for a signed-in player. Texts are as the service sent them.
struct LoginResult {
    std::wstring userId;
    std::wstring token;
    std::wstring gameId;
    std::wstring userName;
};

// The request `login` sends for an account and password: the URL (with the percent-encoded
// query for GET) and the body (compact JSON for POST).
struct LoginRequest {
    std::wstring url;
    std::string body;
    bool usePost = false;
};

inline constexpr std::size_t maxAccountLength = 128;
inline constexpr std::size_t maxPasswordLength = 256;

// The identity and token a game may be started with: userId not blank, not "0", at most 128
// units; token not blank, at most 8192 units; neither with a control character.
bool hasUsableIdentity(const LoginResult& result);

// Account not blank after trimming and at most 128 units; password not empty and at most 256.
bool isValidCredentialInput(std::wstring_view account, std::wstring_view password);

// Signs the player in with the configured login service. Blocking; runs on a worker. Throws
// Error with the player's sentence, or Canceled.
LoginResult login(const LauncherConfig& config, std::wstring_view account, std::wstring_view password,
                  CancelToken& token);

// Builds the request for `login` from the configured address and method. Throws
// Error("文本编码无效。") for text that is not valid UTF-16.
LoginRequest buildLoginRequest(std::wstring_view loginProxyUrl, std::string_view method,
                               std::wstring_view account, std::wstring_view password);

// Interprets one reply envelope whose success code is `expected`; nested envelopes (depth at most
// 3) use "0". Throws Error with the login messages.
LoginResult parseLoginReply(const nlohmann::json& value, std::wstring_view expected, int depth);

// A member as text: strings converted from UTF-8, numbers as their JSON text, anything else or an
// absent member empty.
std::wstring memberText(const nlohmann::json& value, const char* key);

} // namespace launcher
