#include <winhttp.h>

#include <cstdlib>
#include <string_view>

// scheme://[user[:password]@]host[:port][/path][?extra], with every part handed back as a
// pointer into the caller's text and a length, as WinHttpCrackUrl does when asked for no copies.
// Only what the launcher asks for is supported: every length given as -1.

namespace {

DWORD lastError = 0;

int fail(DWORD error) {
    lastError = error;
    return 0;
}

void set(wchar_t*& pointer, DWORD& length, std::wstring_view whole, std::wstring_view part) {
    if (length != static_cast<DWORD>(-1)) std::abort();
    pointer = part.empty() ? nullptr : const_cast<wchar_t*>(whole.data()) + (part.data() - whole.data());
    length = static_cast<DWORD>(part.size());
}

bool equalsIgnoringCase(std::wstring_view text, std::wstring_view lower) {
    if (text.size() != lower.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if ((text[i] >= L'A' && text[i] <= L'Z' ? text[i] | 0x20 : text[i]) != lower[i]) return false;
    return true;
}

} // namespace

DWORD GetLastError() {
    return lastError;
}

void SetLastError(DWORD error) {
    lastError = error;
}

int WinHttpCrackUrl(const wchar_t* url, DWORD length, DWORD, URL_COMPONENTS* components) {
    if (length == 0 || components->dwStructSize != sizeof(URL_COMPONENTS)) std::abort();
    const std::wstring_view whole(url, length);
    const std::size_t schemeEnd = whole.find(L"://");
    if (schemeEnd == std::wstring_view::npos) return fail(ERROR_WINHTTP_INVALID_URL);
    const std::wstring_view scheme = whole.substr(0, schemeEnd);
    const INTERNET_SCHEME kind = equalsIgnoringCase(scheme, L"http")    ? INTERNET_SCHEME_HTTP
                                 : equalsIgnoringCase(scheme, L"https") ? INTERNET_SCHEME_HTTPS
                                                                        : 0;
    if (kind == 0) return fail(ERROR_WINHTTP_UNRECOGNIZED_SCHEME);

    std::wstring_view rest = whole.substr(schemeEnd + 3);
    const std::size_t authorityEnd = rest.find_first_of(L"/?#");
    std::wstring_view authority = rest.substr(0, authorityEnd);
    rest.remove_prefix(authority.size());
    std::wstring_view user, password;
    if (const std::size_t at = authority.rfind(L'@'); at != std::wstring_view::npos) {
        user = authority.substr(0, at);
        authority.remove_prefix(at + 1);
        if (const std::size_t colon = user.find(L':'); colon != std::wstring_view::npos) {
            password = user.substr(colon + 1);
            user = user.substr(0, colon);
        }
    }
    INTERNET_PORT port = kind == INTERNET_SCHEME_HTTPS ? 443 : 80;
    std::wstring_view host = authority;
    if (const std::size_t colon = authority.rfind(L':');
        colon != std::wstring_view::npos && authority.find(L']', colon) == std::wstring_view::npos) {
        host = authority.substr(0, colon);
        const std::wstring_view digits = authority.substr(colon + 1);
        if (digits.empty() || digits.size() > 5) return fail(ERROR_WINHTTP_INVALID_URL);
        unsigned number = 0;
        for (const wchar_t c : digits) {
            if (c < L'0' || c > L'9') return fail(ERROR_WINHTTP_INVALID_URL);
            number = number * 10 + static_cast<unsigned>(c - L'0');
        }
        if (number > 65535) return fail(ERROR_WINHTTP_INVALID_URL);
        port = static_cast<INTERNET_PORT>(number);
    }
    if (host.empty()) return fail(ERROR_WINHTTP_INVALID_URL);

    const std::wstring_view path = rest.substr(0, rest.find_first_of(L"?#"));
    const std::wstring_view extra = rest.substr(path.size());
    set(components->lpszScheme, components->dwSchemeLength, whole, scheme);
    set(components->lpszHostName, components->dwHostNameLength, whole, host);
    set(components->lpszUserName, components->dwUserNameLength, whole, user);
    set(components->lpszPassword, components->dwPasswordLength, whole, password);
    set(components->lpszUrlPath, components->dwUrlPathLength, whole, path);
    set(components->lpszExtraInfo, components->dwExtraInfoLength, whole, extra);
    components->nScheme = kind;
    components->nPort = port;
    return 1;
}
