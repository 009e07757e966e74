#include "config/endpoint_rules.h"

#include "config/deployment.h"
#include "config/url_parts.h"
#include "foundation/text.h"

namespace launcher {
namespace {

// The character at `position` as a server reads it, with the escapes that matter here decoded;
// advances `position` past it.
wchar_t decodedCharacter(std::wstring_view path, std::size_t& position) {
    if (path[position] == L'%' && position + 2 < path.size()) {
        const wchar_t high = path[position + 1];
        const wchar_t low = static_cast<wchar_t>(path[position + 2] | 0x20); // hex digits of either case
        const wchar_t decoded = high == L'2' && low == L'e'   ? L'.'
                                : high == L'2' && low == L'f' ? L'/'
                                : high == L'5' && low == L'c' ? L'\\'
                                                              : L'\0';
        if (decoded != L'\0') {
            position += 3;
            return decoded;
        }
    }
    return path[position++];
}

// Whether the path holds a "." or ".." segment, literal or percent-encoded. The prefix rule is a
// text comparison, so "prefix/%2E%2E/x.zip" would otherwise reach outside the package folder on
// the server. Backslashes count as separators, as many servers treat them.
bool holdsDotSegment(std::wstring_view path) {
    std::size_t dots = 0;
    bool onlyDots = true;
    for (std::size_t position = 0; position < path.size();) {
        const wchar_t c = decodedCharacter(path, position);
        if (c == L'/' || c == L'\\') {
            if (onlyDots && (dots == 1 || dots == 2)) return true;
            dots = 0;
            onlyDots = true;
        } else if (c == L'.') {
            ++dots;
        } else {
            onlyDots = false;
        }
    }
    return onlyDots && (dots == 1 || dots == 2);
}

bool isAllowedPlainHttp(const UrlParts& parts, EndpointPurpose purpose) {
    const std::wstring_view pathAndQuery = parts.pathAndQuery;
    const std::wstring_view path = pathAndQuery.substr(0, pathAndQuery.find(L'?'));
    if (holdsDotSegment(path)) return false;
    if (purpose == EndpointPurpose::login)
        return parts.host == lanLoginHost && parts.port == lanLoginPort && path == lanLoginPath;
    const bool underPackagePath =
        parts.host == packageHost && parts.port == packagePort && path.starts_with(packagePathPrefix);
    if (purpose == EndpointPurpose::update) return underPackagePath;
    return underPackagePath && path.size() >= packageFileSuffix.size() &&
           toLowerCase(path.substr(path.size() - packageFileSuffix.size())) == packageFileSuffix;
}

} // namespace

bool isAllowedEndpoint(std::wstring_view url, EndpointPurpose purpose) noexcept {
    try {
        const UrlParts parts = crackUrl(url);
        if (!parts.userName.empty() || !parts.password.empty()) return false;
        if (url.find(L'#') != std::wstring_view::npos || hasControlCharacter(url)) return false;
        if (parts.secure) return true;
        return isAllowedPlainHttp(parts, purpose);
    } catch (...) {
        return false;
    }
}

} // namespace launcher
