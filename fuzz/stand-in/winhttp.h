#pragma once

// The URL parser of WinHTTP, which the product's URL handling calls: a stand-in that takes URLs
// apart the way WinHttpCrackUrl does for the forms the launcher accepts (stand-in/winhttp.cpp).
#include <windows.h>

using HINTERNET = void*;
using INTERNET_SCHEME = int;
using INTERNET_PORT = unsigned short;

inline constexpr INTERNET_SCHEME INTERNET_SCHEME_HTTP = 1;
inline constexpr INTERNET_SCHEME INTERNET_SCHEME_HTTPS = 2;
inline constexpr DWORD ERROR_WINHTTP_INVALID_URL = 12005;
inline constexpr DWORD ERROR_WINHTTP_UNRECOGNIZED_SCHEME = 12006;

struct URL_COMPONENTS {
    DWORD dwStructSize;
    wchar_t* lpszScheme;
    DWORD dwSchemeLength;
    INTERNET_SCHEME nScheme;
    wchar_t* lpszHostName;
    DWORD dwHostNameLength;
    INTERNET_PORT nPort;
    wchar_t* lpszUserName;
    DWORD dwUserNameLength;
    wchar_t* lpszPassword;
    DWORD dwPasswordLength;
    wchar_t* lpszUrlPath;
    DWORD dwUrlPathLength;
    wchar_t* lpszExtraInfo;
    DWORD dwExtraInfoLength;
};

BOOL WinHttpCloseHandle(HINTERNET handle); // declared only, for foundation/unique_handle.h
int WinHttpCrackUrl(const wchar_t* url, DWORD length, DWORD flags, URL_COMPONENTS* components);
