#include "net/http_exchange.h"

#include "foundation/error.h"

#include <windows.h>
#include <shlwapi.h>
#include <winhttp.h>

#include <algorithm>

namespace launcher {
namespace {

constexpr const wchar_t* userAgent = L"YaoShiJiYuan/0.6.0";
constexpr DWORD disabledFeatures =
    WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_AUTHENTICATION;
constexpr DWORD redirectBufferUnits = 8192;

HINTERNET openAttachedRequest(HINTERNET connection, const wchar_t* verb, const UrlParts& parts,
                              CancelToken& token) {
    UniqueWinHttp handle{::WinHttpOpenRequest(connection, verb, parts.pathAndQuery.c_str(), nullptr,
                                              WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                              parts.secure ? WINHTTP_FLAG_SECURE : 0)};
    if (!handle) throw Error("无法创建网络请求。");
    return attachRequest(token, std::move(handle));
}

} // namespace

UniqueWinHttp openHttpSession(int connectMs, int receiveMs) {
    UniqueWinHttp session{::WinHttpOpen(userAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                        WINHTTP_NO_PROXY_BYPASS, 0)};
    if (!session) throw Error("无法创建网络连接。");
    ::WinHttpSetTimeouts(session.get(), connectMs, connectMs, connectMs, receiveMs);
    return session;
}

UniqueWinHttp connectHttp(HINTERNET session, const UrlParts& parts) {
    UniqueWinHttp connection{::WinHttpConnect(session, parts.host.c_str(), parts.port, 0)};
    if (!connection) throw Error("无法创建网络连接。");
    return connection;
}

TokenRequest::TokenRequest(HINTERNET connection, const wchar_t* verb, const UrlParts& parts, int receiveMs,
                           CancelToken& token)
    : token_(token), request_(openAttachedRequest(connection, verb, parts, token)) {
    DWORD features = disabledFeatures;
    ::WinHttpSetOption(request_, WINHTTP_OPTION_DISABLE_FEATURE, &features, sizeof(features));
    // The receive time-out bounds each read of the body only; the wait for the response headers
    // has a limit of its own (90 s unless set), which a server that accepts and never answers
    // would otherwise hold the player to.
    DWORD headersMs = static_cast<DWORD>(receiveMs);
    ::WinHttpSetOption(request_, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headersMs, sizeof(headersMs));
}

void sendAndReceive(HINTERNET request, const wchar_t* headers, std::string_view body,
                    const CancelToken& token) {
    void* data = body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(body.data());
    const auto length = static_cast<DWORD>(body.size());
    if (!::WinHttpSendRequest(request, headers, static_cast<DWORD>(-1L), data, length, length, 0) ||
        !::WinHttpReceiveResponse(request, nullptr))
        failUnlessCanceled(token, "网络连接失败，请检查网络后重试。");
}

void failUnlessCanceled(const CancelToken& token, const char* message) {
    throwIfCanceled(token);
    throw Error(message);
}

// A cancel() that lands right after the response arrived closes the handle under this query too;
// the player must then hear that the work was cancelled, not that the server failed.
DWORD responseStatus(HINTERNET request, const CancelToken& token) {
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
        failUnlessCanceled(token, "无法读取服务器响应。");
    return status;
}

bool isRedirectStatus(DWORD status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::wstring redirectTarget(HINTERNET request, const std::wstring& currentUrl, const CancelToken& token) {
    const std::wstring location = queryHeaderText(request, WINHTTP_QUERY_LOCATION);
    if (location.empty()) failUnlessCanceled(token, "下载重定向地址无效。");
    std::wstring combined(redirectBufferUnits, L'\0');
    DWORD length = redirectBufferUnits;
    if (FAILED(::UrlCombineW(currentUrl.c_str(), location.c_str(), combined.data(), &length, 0)))
        throw Error("下载重定向地址无效。");
    combined.resize(length);
    return combined;
}

void refuseRateLimitOrProxy(DWORD status) {
    if (status == 429) throw Error("操作过于频繁，请稍后重试。");
    // Automatic authentication stays off, so a proxy that wants credentials ends here; the
    // player must look at the proxy settings, not wait for the service.
    if (status == 407) throw Error("网络代理需要身份验证，请检查代理设置。");
}

std::wstring queryHeaderText(HINTERNET request, DWORD headerId) {
    DWORD bytes = 0;
    ::WinHttpQueryHeaders(request, headerId, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &bytes,
                          WINHTTP_NO_HEADER_INDEX);
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes == 0) return {};
    std::wstring text(bytes / 2 + 1, L'\0');
    DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (!::WinHttpQueryHeaders(request, headerId, WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &size,
                               WINHTTP_NO_HEADER_INDEX))
        return {};
    text.resize(size / sizeof(wchar_t));
    return text;
}

std::optional<std::uint64_t> parseContentLength(std::wstring_view text) {
    std::size_t position = 0;
    while (position < text.size() && (text[position] == L' ' || text[position] == L'\t'))
        ++position;
    if (position == text.size() || text[position] < L'0' || text[position] > L'9') return std::nullopt;
    std::uint64_t value = 0;
    for (; position < text.size() && text[position] >= L'0' && text[position] <= L'9'; ++position) {
        const std::uint64_t digit = static_cast<std::uint64_t>(text[position] - L'0');
        if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

bool readArrived(HINTERNET request, std::uint8_t* buffer, DWORD capacity, DWORD& count) {
    // Ask how much has arrived before reading: a plain read may wait for a full buffer on some
    // stacks, which would hold back progress and the time limits.
    DWORD available = 0;
    count = 0;
    if (!::WinHttpQueryDataAvailable(request, &available)) return false;
    if (available == 0) return true;
    return ::WinHttpReadData(request, buffer, std::min(available, capacity), &count) != FALSE;
}

std::wstring_view pathWithoutQuery(std::wstring_view pathAndQuery) {
    return pathAndQuery.substr(0, pathAndQuery.find_first_of(L"?#"));
}

} // namespace launcher
