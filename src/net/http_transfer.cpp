#include "net/http_transfer.h"

#include "config/endpoint_rules.h"
#include "config/url_parts.h"
#include "foundation/diagnostic_log.h"
#include "foundation/error.h"
#include "net/http_exchange.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <memory>

namespace launcher {
namespace {

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

constexpr ULONGLONG progressIntervalMs = 100;

constexpr const wchar_t* postHeaders =
    L"Content-Type: application/json; charset=utf-8\r\nAccept: application/json\r\n";

const std::wstring downloadingStatus = L"正在下载客户端";
const std::wstring verifyingStatus = L"正在校验安装包";

// The handles of one attempt, closed in the reverse order: the request (given back to the token)
// before the connection and the session.
struct Attempt {
    UniqueWinHttp session;
    UniqueWinHttp connection;
    std::optional<TokenRequest> request;
};

void openAttempt(Attempt& attempt, const UrlParts& parts, const HttpRequest& request, CancelToken& token) {
    const HttpPatience patience = httpPatienceFor(request);
    const int connectMs = waitWithin(request, request.deadline, patience.connectMs);
    const int receiveMs = waitWithin(request, request.deadline, patience.receiveMs);
    attempt.session = openHttpSession(connectMs, receiveMs);
    attempt.connection = connectHttp(attempt.session.get(), parts);
    attempt.request.emplace(attempt.connection.get(), request.usePost ? L"POST" : L"GET", parts, receiveMs,
                            token);
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
    const auto buffer = std::make_unique<std::uint8_t[]>(httpReadBufferBytes);
    for (;;) {
        throwIfCanceled(token);
        if (deadline != 0) {
            // Each wait for the next bytes ends with the deadline.
            DWORD readMs = static_cast<DWORD>(waitWithin(request, deadline, patience.receiveMs));
            ::WinHttpSetOption(handle, WINHTTP_OPTION_RECEIVE_TIMEOUT, &readMs, sizeof(readMs));
        }
        DWORD count = 0;
        if (!readArrived(handle, buffer.get(), httpReadBufferBytes, count)) failRead();
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

void exchange(const HttpRequest& request, CancelToken& token, const ChunkSink& sink,
              const ProgressCallback& progress, std::uint64_t& received) {
    const EndpointPurpose purpose = request.updateChannel  ? EndpointPurpose::update
                                    : request.downloadMode ? EndpointPurpose::download
                                                           : EndpointPurpose::login;
    std::wstring currentUrl = request.url;
    for (int attemptNumber = 1; attemptNumber <= httpMaxHops; ++attemptNumber) {
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
        sendAndReceive(attempt.request->get(), request.usePost ? postHeaders : httpGetHeaders, request.body,
                       token);

        const DWORD status = responseStatus(attempt.request->get(), token);
        logEvent("http.status", {{"status", status}});
        if (request.record != nullptr) request.record->hops.back().status = status;
        if (isRedirectStatus(status)) {
            // Update files may sit behind a CDN's redirect; every hop still passes the update rule.
            if (!request.downloadMode && !request.updateChannel)
                throw Error("登录服务地址发生跳转，请联系管理员。");
            currentUrl = redirectTarget(attempt.request->get(), currentUrl, token);
            continue;
        }
        refuseRateLimitOrProxy(status);
        if (status != 200)
            throw Error(request.downloadMode ? "客户端下载服务暂不可用，请稍后重试。"
                                             : "登录服务暂不可用，请稍后重试。");

        if (request.record != nullptr)
            request.record->cacheControl =
                queryHeaderText(attempt.request->get(), WINHTTP_QUERY_CACHE_CONTROL);
        readBody(attempt.request->get(), request, token, sink, progress, received);
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
