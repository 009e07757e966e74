#pragma once

#include "config/url_parts.h"
#include "foundation/cancel_token.h"
#include "net/http_transfer.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace launcher {

// Bytes offset .. offset + length - 1 of a file; length > 0.
struct ByteRange {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

// One connection's worth of requests to the client's content store: byte ranges of its pack
// files, one after the other. Keeps its WinHTTP session and its connection to each host between
// requests, so the server's keep-alive connection carries the next range without a new TCP
// handshake; a redirect to another host opens a connection there too. Used by one thread at a time.
class StoreConnection {
public:
    StoreConnection();
    ~StoreConnection();
    StoreConnection(const StoreConnection&) = delete;
    StoreConnection& operator=(const StoreConnection&) = delete;

    // GETs `range` of `url` with a Range header and passes exactly range.length bytes to `sink`, in
    // pieces of 1 to 131072 bytes. Every address contacted (the first and at most five redirect
    // targets) passes the update channel's endpoint rule: digests vouch for what the store holds.
    // A 206 must name exactly the range asked for; a server that ignores Range may answer 200 when
    // the range starts at 0, and its connection is then dropped rather than reused. Time-outs are
    // a download's. Throws Error with the player's sentence, Canceled once `token` is cancelled
    // (which closes the request at once), or what the sink threw. Never retries.
    void fetch(const std::wstring& url, ByteRange range, CancelToken& token, const ChunkSink& sink);

private:
    struct HostConnection {
        std::wstring host;
        std::uint16_t port = 0;
        UniqueWinHttp handle;
    };

    HINTERNET connectionTo(const UrlParts& parts);
    bool exchange(std::wstring& currentUrl, ByteRange range, CancelToken& token, const ChunkSink& sink,
                  std::uint64_t& received);
    void readRange(HINTERNET request, ByteRange range, CancelToken& token, const ChunkSink& sink,
                   std::uint64_t& received);

    UniqueWinHttp session_;
    std::vector<HostConnection> connections_; // closed before the session
    std::unique_ptr<std::uint8_t[]> buffer_;
};

} // namespace launcher
