#pragma once

// What the login service's reply means, apart from how it is fetched.
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

// The identity and token a game may be started with: userId not blank, not "0", at most 128
// units; token not blank, at most 8192 units; neither with a control character.
bool hasUsableIdentity(const LoginResult& result);

// Interprets one reply envelope whose success code is `expected`; nested envelopes (depth at most
// 3) use "0". Throws Error with the login messages.
LoginResult parseLoginReply(const nlohmann::json& value, std::wstring_view expected, int depth);

// What the log may show of a text the login service sent (its message, or a sentence holding it):
// at most 200 units, and every occurrence of the account as typed (trimmed, in any letter case)
// replaced with "<account>", so a service that echoes the account name does not put it in the log.
// Pure.
std::wstring loggableServiceText(std::wstring_view text, std::wstring_view account);

// A member as text: strings converted from UTF-8, numbers as their JSON text, anything else or an
// absent member empty.
std::wstring memberText(const nlohmann::json& value, const char* key);

} // namespace launcher
