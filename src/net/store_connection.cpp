#include "net/store_connection.h"

#include "config/endpoint_rules.h"
#include "foundation/diagnostic_log.h"
#include "foundation/error.h"
#include "net/http_exchange.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <stdexcept>

namespace launcher {
namespace {

constexpr const char* unavailableMessage = "客户端下载服务暂不可用，请稍后重试。";

HttpPatience storePatience() {
    HttpRequest download;
    download.downloadMode = true;
    return httpPatienceFor(download);
}

std::wstring rangeHeaders(ByteRange range) {
    return std::wstring(httpGetHeaders) + L"Range: bytes=" + std::to_wstring(range.offset) + L"-" +
           std::to_wstring(range.offset + range.length - 1) + L"\r\n";
}

// Reads the decimal number at `position` and moves past it; empty without a digit or on overflow.
std::optional<std::uint64_t> readNumber(std::wstring_view text, std::size_t& position) {
    const std::size_t start = position;
    while (position < text.size() && text[position] >= L'0' && text[position] <= L'9')
        ++position;
    if (position == start) return std::nullopt;
    return parseContentLength(text.substr(start, position - start));
}

// Whether a Content-Range value ("bytes first-last/total", total may be "*") names exactly `range`.
bool namesExactly(std::wstring_view contentRange, ByteRange range) {
    constexpr std::wstring_view unit = L"bytes ";
    if (!contentRange.starts_with(unit)) return false;
    std::size_t position = unit.size();
    const auto first = readNumber(contentRange, position);
    if (!first || position == contentRange.size() || contentRange[position++] != L'-') return false;
    const auto last = readNumber(contentRange, position);
    if (!last || position == contentRange.size() || contentRange[position++] != L'/') return false;
    const std::wstring_view total = contentRange.substr(position);
    if (total != L"*") {
        const auto size = readNumber(contentRange, position);
        if (!size || position != contentRange.size() || *size <= *last) return false;
    }
    return *first == range.offset && *last == range.offset + range.length - 1;
}

// A 206 is taken only for the range asked for, announced with its own length when announced.
void checkPartialAnswer(HINTERNET request, ByteRange range) {
    if (!namesExactly(queryHeaderText(request, WINHTTP_QUERY_CONTENT_RANGE), range))
        throw Error(unavailableMessage);
    const std::wstring lengthText = queryHeaderText(request, WINHTTP_QUERY_CONTENT_LENGTH);
    if (!lengthText.empty() && parseContentLength(lengthText) != range.length)
        throw Error(unavailableMessage);
}

// Reads what has arrived, at most `capacity` bytes; 0 at the end of the body.
DWORD readSome(HINTERNET request, std::uint8_t* buffer, DWORD capacity, const CancelToken& token) {
    throwIfCanceled(token);
    DWORD count = 0;
    if (!readArrived(request, buffer, capacity, count)) failUnlessCanceled(token, "网络读取中断，请重试。");
    // A cancelled request can also look like a clean end of the body.
    throwIfCanceled(token);
    return count;
}

} // namespace

StoreConnection::StoreConnection() : buffer_(std::make_unique<std::uint8_t[]>(httpReadBufferBytes)) {}

StoreConnection::~StoreConnection() = default;

void StoreConnection::fetch(const std::wstring& url, ByteRange range, CancelToken& token,
                            const ChunkSink& sink) {
    if (range.length == 0 || range.offset > UINT64_MAX - range.length)
        throw std::invalid_argument("a byte range of the store is empty or runs past 2^64");
    std::wstring currentUrl = url;
    std::uint64_t received = 0;
    bool reusable = false;
    // A connection left in an unknown state (a failure, an unread body) is never handed the next
    // range: its leftover bytes would be read as the next answer.
    const ScopeExit dropUnlessReusable([&] {
        if (!reusable) {
            connections_.clear();
            session_.reset();
        }
    });
    try {
        reusable = exchange(currentUrl, range, token, sink, received);
    } catch (const Canceled&) {
        throw;
    } catch (const Error& error) {
        logEvent("store.range_failed", {{"url", pathWithoutQuery(currentUrl)},
                                        {"offset", range.offset},
                                        {"length", range.length},
                                        {"bytes", received},
                                        {"message", error.what()}});
        throw;
    }
}

HINTERNET StoreConnection::connectionTo(const UrlParts& parts) {
    const auto known =
        std::find_if(connections_.begin(), connections_.end(), [&](const HostConnection& open) {
            return open.host == parts.host && open.port == parts.port;
        });
    if (known != connections_.end()) return known->handle.get();
    if (!session_) {
        const HttpPatience patience = storePatience();
        session_ = openHttpSession(patience.connectMs, patience.receiveMs);
    }
    logEvent("store.connect", {{"host", parts.host}, {"port", parts.port}});
    connections_.push_back({parts.host, parts.port, connectHttp(session_.get(), parts)});
    return connections_.back().handle.get();
}

// Follows redirects to the answer with the bytes; true when its connection may carry the next range.
bool StoreConnection::exchange(std::wstring& currentUrl, ByteRange range, CancelToken& token,
                               const ChunkSink& sink, std::uint64_t& received) {
    const std::wstring headers = rangeHeaders(range);
    for (int hop = 1; hop <= httpMaxHops; ++hop) {
        throwIfCanceled(token);
        if (!isAllowedEndpoint(currentUrl, EndpointPurpose::update))
            throw Error("网络请求或重定向地址不符合要求。");
        const UrlParts parts = crackUrl(currentUrl);
        const TokenRequest request(connectionTo(parts), L"GET", parts, storePatience().receiveMs, token);
        sendAndReceive(request.get(), headers.c_str(), {}, token);

        const DWORD status = responseStatus(request.get(), token);
        if (isRedirectStatus(status)) {
            currentUrl = redirectTarget(request.get(), currentUrl, token);
            continue;
        }
        refuseRateLimitOrProxy(status);
        if (status == 206) {
            checkPartialAnswer(request.get(), range);
            readRange(request.get(), range, token, sink, received);
            // Asking once more makes sure the body ended where it said, which is also what lets
            // the connection carry the next request.
            return readSome(request.get(), buffer_.get(), 1, token) == 0;
        }
        // The server ignored Range and sends the whole file: its start is the range asked for, and
        // the rest of it is left unread.
        if (status == 200 && range.offset == 0) {
            readRange(request.get(), range, token, sink, received);
            return false;
        }
        throw Error(unavailableMessage);
    }
    throw Error("下载重定向次数过多。");
}

void StoreConnection::readRange(HINTERNET request, ByteRange range, CancelToken& token, const ChunkSink& sink,
                                std::uint64_t& received) {
    while (received < range.length) {
        const auto capacity =
            static_cast<DWORD>(std::min<std::uint64_t>(httpReadBufferBytes, range.length - received));
        const DWORD count = readSome(request, buffer_.get(), capacity, token);
        if (count == 0) throw Error("下载内容不完整，请重试。");
        received += count;
        sink(buffer_.get(), count);
    }
}

} // namespace launcher
