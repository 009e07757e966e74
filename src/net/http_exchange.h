#pragma once

// The steps of one WinHTTP exchange that the transfers of this room take alike: the session and
// its time-outs, a request the cancel token can close, sending, the status, headers and redirects
// of the answer, and reading what has arrived of its body.
#include "config/url_parts.h"
#include "foundation/cancel_token.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace launcher {

// The most a sink is handed at once.
inline constexpr std::size_t httpReadBufferBytes = 131072;
// The first address and at most five redirects.
inline constexpr int httpMaxHops = 6;
inline constexpr const wchar_t* httpGetHeaders = L"Accept: */*\r\n";

// A session whose connecting and sending wait at most `connectMs`, and each read `receiveMs`.
// Throws Error("无法创建网络连接。").
UniqueWinHttp openHttpSession(int connectMs, int receiveMs);

// A connection handle to the host and port of `parts`. Throws Error("无法创建网络连接。").
UniqueWinHttp connectHttp(HINTERNET session, const UrlParts& parts);

// A request on `connection`, handed to `token` before anything is sent so that cancel() can close
// it from another thread; given back to the token (closed) when this goes out of scope. Redirects,
// cookies and automatic authentication stay off; the response headers wait at most `receiveMs`.
class TokenRequest {
public:
    TokenRequest(HINTERNET connection, const wchar_t* verb, const UrlParts& parts, int receiveMs,
                 CancelToken& token);
    ~TokenRequest() { detachRequest(token_, request_); }
    TokenRequest(const TokenRequest&) = delete;
    TokenRequest& operator=(const TokenRequest&) = delete;

    HINTERNET get() const noexcept { return request_; }

private:
    CancelToken& token_;
    HINTERNET request_;
};

// Sends `headers` and `body` (may be empty) and waits for the response headers. Throws
// Error("网络连接失败，请检查网络后重试。"), or Canceled when cancel() closed the request.
void sendAndReceive(HINTERNET request, const wchar_t* headers, std::string_view body,
                    const CancelToken& token);

// After a failed platform call, a cancelled token explains the failure: cancel() closed the
// request under us. Throws Canceled then, else Error(message).
[[noreturn]] void failUnlessCanceled(const CancelToken& token, const char* message);

// The status code of the answer. Throws Error("无法读取服务器响应。") or Canceled.
DWORD responseStatus(HINTERNET request, const CancelToken& token);

bool isRedirectStatus(DWORD status);

// The absolute address the answer's Location names, resolved against `currentUrl`. Throws
// Error("下载重定向地址无效。") or Canceled.
std::wstring redirectTarget(HINTERNET request, const std::wstring& currentUrl, const CancelToken& token);

// 429 and 407 have sentences of their own whatever was asked: throws them. Returns for any other.
void refuseRateLimitOrProxy(DWORD status);

// One response header as text, or empty if it is absent or cannot be read.
std::wstring queryHeaderText(HINTERNET request, DWORD headerId);

// Reads a Content-Length value: leading white space skipped, digits read up to the first
// non-digit. Empty if no digit can be read or the number does not fit in 64 bits.
std::optional<std::uint64_t> parseContentLength(std::wstring_view text);

// Reads at most `capacity` bytes of what has already arrived of the body, waiting only until
// something has. False when the read failed; `count` is 0 at the end of the body.
bool readArrived(HINTERNET request, std::uint8_t* buffer, DWORD capacity, DWORD& count);

// What the log may show of an address: never the query, which carries the login's account and
// password when the service is asked with GET.
std::wstring_view pathWithoutQuery(std::wstring_view pathAndQuery);

} // namespace launcher
