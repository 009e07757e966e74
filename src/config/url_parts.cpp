#include "config/url_parts.h"

#include "foundation/error.h"

#include <windows.h>
#include <winhttp.h>

namespace launcher {
namespace {

std::wstring part(const wchar_t* text, DWORD length) {
    return text ? std::wstring(text, length) : std::wstring();
}

} // namespace

UrlParts crackUrl(std::wstring_view url) {
    if (url.empty() || url.size() > 0x7FFFFFFF) throw Error("网络地址无效。");
    // Ask for pointers into `buffer` rather than copies: every length set to -1.
    const std::wstring buffer(url);
    URL_COMPONENTS components{};
    components.dwStructSize = sizeof(components);
    components.dwSchemeLength = static_cast<DWORD>(-1);
    components.dwHostNameLength = static_cast<DWORD>(-1);
    components.dwUserNameLength = static_cast<DWORD>(-1);
    components.dwPasswordLength = static_cast<DWORD>(-1);
    components.dwUrlPathLength = static_cast<DWORD>(-1);
    components.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!::WinHttpCrackUrl(buffer.c_str(), static_cast<DWORD>(buffer.size()), 0, &components)) {
        if (::GetLastError() == ERROR_WINHTTP_UNRECOGNIZED_SCHEME)
            throw Error("网络地址必须使用 HTTP 或 HTTPS。");
        throw Error("网络地址无效。");
    }
    if (components.nScheme != INTERNET_SCHEME_HTTP && components.nScheme != INTERNET_SCHEME_HTTPS)
        throw Error("网络地址必须使用 HTTP 或 HTTPS。");

    UrlParts parts;
    parts.host = part(components.lpszHostName, components.dwHostNameLength);
    parts.pathAndQuery = part(components.lpszUrlPath, components.dwUrlPathLength);
    if (parts.pathAndQuery.empty()) parts.pathAndQuery = L"/";
    parts.pathAndQuery += part(components.lpszExtraInfo, components.dwExtraInfoLength);
    parts.userName = part(components.lpszUserName, components.dwUserNameLength);
    parts.password = part(components.lpszPassword, components.dwPasswordLength);
    parts.port = components.nPort;
    parts.secure = components.nScheme == INTERNET_SCHEME_HTTPS;
    return parts;
}

} // namespace launcher
