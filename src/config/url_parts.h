#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace launcher {

// An HTTP or HTTPS URL taken apart by the platform's URL parser. Texts are as written.
struct UrlParts {
    std::wstring host;
    std::wstring pathAndQuery; // the path ("/" when there is none) followed by "?..." as written
    std::wstring userName;
    std::wstring password;
    std::uint16_t port = 0; // explicit, or 80 / 443 by scheme
    bool secure = false;
};

// Throws Error("网络地址无效。") for text the parser rejects, and
// Error("网络地址必须使用 HTTP 或 HTTPS。") for any other scheme.
UrlParts crackUrl(std::wstring_view url);

} // namespace launcher
