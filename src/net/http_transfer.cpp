#include "net/http_transfer.h"

#include "config/endpoint_rules.h"
#include "config/url_parts.h"
#include "foundation/diagnostic_log.h"
#include "foundation/error.h"

#include <windows.h>
#include <shlwapi.h>
#include <winhttp.h>

#include <algorithm>
#include <memory>

namespace launcher {
namespace {

constexpr const wchar_t* userAgent = L"YaoShiJiYuan/0.6.0";

constexpr HttpPatience loginPatience{15000, 25000, 25000};
constexpr HttpPatience downloadPatience{15000, 60000, 0};
// The update check holds up the client check, and the last accepted manifest stands in when the
// server is slow: a silent server must not keep the player waiting at every start.
constexpr HttpPatience updateCheckPatience{5000, 8000, 8000};

const char* timeoutMessage(const HttpRequest& request) {
    return request.updateChannel ? "更新检查超时。" : "登录请求超时，请重试。";
}

// What is left of the request's deadline, at most `stageMs`: each wait of the exchange is bounded
// by both. Throws the time-out once the deadline has passed.
int waitWithin(const HttpRequest& request, ULONGLONG deadline, int stageMs) {
    if (deadline == 0) return stageMs;
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) throw Error(timeoutMessage(request));
    return static_cast<int>(std::min<ULONGLONG>(deadline - now, static_cast<ULONGLONG>(stageMs)));
}

constexpr DWORD disabledFeatures =
    WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_AUTHENTICATION;
constexpr std::size_t readBufferBytes = 131072;
constexpr int maxAttempts = 6;
constexpr DWORD redirectBufferUnits = 8192;
constexpr ULONGLONG progressIntervalMs = 100;

constexpr const wchar_t* postHeaders =
    L"Content-Type: application/json; charset=utf-8\r\nAccept: application/json\r\n";
constexpr const wchar_t* getHeaders = L"Accept: */*\r\n";

const std::wstring downloadingStatus = L"正在下载客户端";
const std::wstring verifyingStatus = L"正在校验安装包";

bool isRedirect(DWORD status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Reads a Content-Length value: leading white space skipped, digits read up to the first
// non-digit. Empty if no digit can be read or the number does not fit in 64 bits.
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

// One response header as text, or empty if it is absent or cannot be read.
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

// The three handles of one attempt. The request belongs to the token while attached; the guard
// gives it back (closing it) on every way out of the attempt, before the connection and session
// close in that order.
struct Attempt {
    UniqueWinHttp session;
    UniqueWinHttp connection;
    CancelToken* token = nullptr;
    HINTERNET request = nullptr;

    Attempt() = default;
    Attempt(const Attempt&) = delete;
    Attempt& operator=(const Attempt&) = delete;
    ~Attempt() {
        if (request != nullptr) detachRequest(*token, request);
    }
};

// After a failed platform call, a cancelled token explains the failure: cancel() closed the
// request under us.
[[noreturn]] void failUnlessCanceled(const CancelToken& token, const char* message) {
    throwIfCanceled(token);
    throw Error(message);
}

// A cancel() that lands right after the response arrived closes the handle under these queries
// too; the player must then hear that the work was cancelled, not that the server failed.
DWORD statusCode(HINTERNET request, const CancelToken& token) {
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
        failUnlessCanceled(token, "无法读取服务器响应。");
    return status;
}

void openAttempt(Attempt& attempt, const UrlParts& parts, const HttpRequest& request, CancelToken& token) {
    attempt.session.reset(::WinHttpOpen(userAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                        WINHTTP_NO_PROXY_BYPASS, 0));
    if (!attempt.session) throw Error("无法创建网络连接。");
    const HttpPatience patience = httpPatienceFor(request);
    const int connectMs = waitWithin(request, request.deadline, patience.connectMs);
    const int receiveMs = waitWithin(request, request.deadline, patience.receiveMs);
    ::WinHttpSetTimeouts(attempt.session.get(), connectMs, connectMs, connectMs, receiveMs);

    attempt.connection.reset(::WinHttpConnect(attempt.session.get(), parts.host.c_str(), parts.port, 0));
    if (!attempt.connection) throw Error("无法创建网络连接。");

    UniqueWinHttp handle{::WinHttpOpenRequest(
        attempt.connection.get(), request.usePost ? L"POST" : L"GET", parts.pathAndQuery.c_str(), nullptr,
        WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, parts.secure ? WINHTTP_FLAG_SECURE : 0)};
    if (!handle) throw Error("无法创建网络请求。");
    attempt.request = attachRequest(token, std::move(handle));
    attempt.token = &token;

    DWORD features = disabledFeatures;
    ::WinHttpSetOption(attempt.request, WINHTTP_OPTION_DISABLE_FEATURE, &features, sizeof(features));
    // The receive time-out bounds each read of the body only; the wait for the response headers
    // has a limit of its own (90 s unless set), which a server that accepts and never answers
    // would otherwise hold the player to.
    DWORD headersMs = static_cast<DWORD>(receiveMs);
    ::WinHttpSetOption(attempt.request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headersMs,
                       sizeof(headersMs));
}

void sendAndReceive(const Attempt& attempt, const HttpRequest& request, CancelToken& token) {
    void* body = request.body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(request.body.data());
    const auto length = static_cast<DWORD>(request.body.size());
    if (!::WinHttpSendRequest(attempt.request, request.usePost ? postHeaders : getHeaders,
                              static_cast<DWORD>(-1L), body, length, length, 0) ||
        !::WinHttpReceiveResponse(attempt.request, nullptr))
        failUnlessCanceled(token, "网络连接失败，请检查网络后重试。");
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

// Streams the body into `sink`, counting it in `received`.
void readBody(HINTERNET handle, const HttpRequest& request, CancelToken& token, const ChunkSink& sink,
              const ProgressCallback& progress, std::uint64_t& received) {
    std::uint64_t announced = 0;
    bool known = false;
    const std::wstring lengthText = queryHeaderText(handle, WINHTTP_QUERY_CONTENT_LENGTH);
    if (!lengthText.empty()) {
        const auto parsed = parseContentLength(lengthText);
        if (!parsed) throw Error("服务器返回的文件大小无效。");
        announced = *parsed;
        known = true;
        if (request.record != nullptr) request.record->announcedBytes = announced;
    }
    if (announced > request.maxBytes) throw Error("下载内容超过允许大小。");

    const ULONGLONG start = ::GetTickCount64();
    const HttpPatience patience = httpPatienceFor(request);
    ULONGLONG deadline = request.deadline;
    if (deadline != 0 && known && request.minimumBytesPerSecond != 0)
        deadline = std::max(deadline, start + announced * 1000 / request.minimumBytesPerSecond);
    ULONGLONG lastReport = 0;
    if (progress) progress(downloadingStatus, 0, announced);

    // A read that fails once the deadline has passed timed out by our own bound.
    const auto failRead = [&] {
        throwIfCanceled(token);
        if (deadline != 0 && ::GetTickCount64() >= deadline) throw Error(timeoutMessage(request));
        throw Error("网络读取中断，请重试。");
    };
    const auto buffer = std::make_unique<std::uint8_t[]>(readBufferBytes);
    for (;;) {
        throwIfCanceled(token);
        if (deadline != 0) {
            // Each wait for the next bytes ends with the deadline.
            DWORD readMs = static_cast<DWORD>(waitWithin(request, deadline, patience.receiveMs));
            ::WinHttpSetOption(handle, WINHTTP_OPTION_RECEIVE_TIMEOUT, &readMs, sizeof(readMs));
        }
        // Ask how much has arrived before reading: a plain read may wait for a full buffer on some
        // stacks, which would hold back progress and the login time limit.
        DWORD available = 0;
        DWORD count = 0;
        if (!::WinHttpQueryDataAvailable(handle, &available)) failRead();
        if (available > 0) {
            const DWORD wanted = std::min<DWORD>(available, readBufferBytes);
            if (!::WinHttpReadData(handle, buffer.get(), wanted, &count)) failRead();
        }
        // A cancelled request can also look like a clean end of the body.
        throwIfCanceled(token);

        if (count == 0) {
            if (known && received != announced) throw Error("下载内容不完整，请重试。");
            if (progress) progress(verifyingStatus, received, announced != 0 ? announced : received);
            return;
        }
        if (count > request.maxBytes - received) throw Error("下载内容超过允许大小。");
        received += count;
        sink(buffer.get(), count);

        const ULONGLONG now = ::GetTickCount64();
        if (patience.bodyMs != 0 && now - start > patience.bodyMs) throw Error(timeoutMessage(request));
        if (deadline != 0 && now >= deadline) throw Error(timeoutMessage(request));
        if (progress && now - lastReport >= progressIntervalMs) {
            progress(downloadingStatus, received, announced);
            lastReport = now;
        }
    }
}

// What the log may show of an address: never the query, which carries the login's account and
// password when the service is asked with GET.
std::wstring_view pathWithoutQuery(std::wstring_view pathAndQuery) {
    return pathAndQuery.substr(0, pathAndQuery.find_first_of(L"?#"));
}

void exchange(const HttpRequest& request, CancelToken& token, const ChunkSink& sink,
              const ProgressCallback& progress, std::uint64_t& received) {
    const EndpointPurpose purpose = request.updateChannel  ? EndpointPurpose::update
                                    : request.downloadMode ? EndpointPurpose::download
                                                           : EndpointPurpose::login;
    std::wstring currentUrl = request.url;
    for (int attemptNumber = 1; attemptNumber <= maxAttempts; ++attemptNumber) {
        throwIfCanceled(token);
        if (request.record != nullptr) request.record->hops.push_back({currentUrl});
        if (!isAllowedEndpoint(currentUrl, purpose)) throw Error("网络请求或重定向地址不符合要求。");
        const UrlParts parts = crackUrl(currentUrl);
        if (request.httpsOnly && !parts.secure) throw Error("网络请求或重定向地址不符合要求。");

        // Before sending, so a connection that fails still names the host it was meant for.
        logEvent("http.request", {{"method", request.usePost ? "POST" : "GET"},
                                  {"scheme", parts.secure ? "https" : "http"},
                                  {"host", parts.host},
                                  {"port", parts.port},
                                  {"path", pathWithoutQuery(parts.pathAndQuery)}});
        Attempt attempt;
        openAttempt(attempt, parts, request, token);
        sendAndReceive(attempt, request, token);

        const DWORD status = statusCode(attempt.request, token);
        logEvent("http.status", {{"status", status}});
        if (request.record != nullptr) request.record->hops.back().status = status;
        if (isRedirect(status)) {
            // Update files may sit behind a CDN's redirect; every hop still passes the update rule.
            if (!request.downloadMode && !request.updateChannel)
                throw Error("登录服务地址发生跳转，请联系管理员。");
            currentUrl = redirectTarget(attempt.request, currentUrl, token);
            continue;
        }
        if (status == 429) throw Error("操作过于频繁，请稍后重试。");
        // Automatic authentication stays off, so a proxy that wants credentials ends here; the
        // player must look at the proxy settings, not wait for the service.
        if (status == 407) throw Error("网络代理需要身份验证，请检查代理设置。");
        if (status != 200)
            throw Error(request.downloadMode ? "客户端下载服务暂不可用，请稍后重试。"
                                             : "登录服务暂不可用，请稍后重试。");

        if (request.record != nullptr)
            request.record->cacheControl = queryHeaderText(attempt.request, WINHTTP_QUERY_CACHE_CONTROL);
        readBody(attempt.request, request, token, sink, progress, received);
        return;
    }
    throw Error("下载重定向次数过多。");
}

} // namespace

HttpPatience httpPatienceFor(const HttpRequest& request) {
    if (request.patience) return *request.patience;
    if (request.downloadMode) return downloadPatience;
    return request.updateChannel ? updateCheckPatience : loginPatience;
}

std::optional<std::uint64_t> parseContentLengthForTesting(std::wstring_view text) {
    return parseContentLength(text);
}

void httpTransfer(const HttpRequest& request, CancelToken& token, const ChunkSink& sink,
                  const ProgressCallback& progress) {
    const ULONGLONG start = ::GetTickCount64();
    std::uint64_t received = 0;
    try {
        exchange(request, token, sink, progress, received);
        logEvent("http.done", {{"bytes", received}, {"ms", ::GetTickCount64() - start}});
    } catch (const Canceled&) {
        logEvent("http.canceled", {{"bytes", received}, {"ms", ::GetTickCount64() - start}});
        throw;
    } catch (const Error& error) {
        logEvent("http.failed",
                 {{"message", error.what()}, {"bytes", received}, {"ms", ::GetTickCount64() - start}});
        throw;
    }
}

} // namespace launcher
