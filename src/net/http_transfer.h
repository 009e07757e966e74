#pragma once

#include "foundation/cancel_token.h"
#include "foundation/progress.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace launcher {

// Receives each chunk of a response body in order, 1 to 131072 bytes at a time. May throw; its
// exception ends the transfer and reaches the caller unchanged.
using ChunkSink = std::function<void(const std::uint8_t* bytes, std::uint32_t count)>;

// How long each stage of an exchange may wait, and the whole body once it flows (0: no limit).
struct HttpPatience {
    int connectMs; // resolving, connecting and sending alike
    int receiveMs; // the response headers, and each wait for more of the body
    ULONGLONG bodyMs;
};

// What the servers answered during one transfer, filled in as it goes so that a failed one shows
// how far it got: for a tool that reports on a deployment. The launcher keeps none.
struct HttpExchangeRecord {
    struct Hop {
        std::wstring url;         // as contacted, or as refused before contact
        std::uint32_t status = 0; // 0: refused, or no answer came
    };
    std::vector<Hop> hops;                       // the first address, then each redirect target
    std::wstring cacheControl;                   // of the answer whose body was read; empty when it had none
    std::optional<std::uint64_t> announcedBytes; // its Content-Length, when it had one
};

struct HttpRequest {
    std::wstring url;
    std::string body;          // sent as is; empty means no body
    bool usePost = false;      // POST with JSON headers, else GET
    bool downloadMode = false; // package download: long receive time-out, redirects followed
    std::uint64_t maxBytes = 0;
    bool httpsOnly = false; // every hop must be HTTPS: nothing else vouches for the body
    // The update manifest or a launcher build: the update endpoint rule, and redirects followed. A
    // manifest (not downloadMode) gets short time-outs: the check must not hold the player up.
    bool updateChannel = false;
    // The whole exchange, every hop and the body included, ends by this ::GetTickCount64() value;
    // 0 leaves only the mode's time-outs. A server that trickles a byte now and then would
    // otherwise never run into them.
    ULONGLONG deadline = 0;
    // With a deadline: a body of announced length n may take until n / minimumBytesPerSecond
    // seconds after its headers, when that is later. 0: the deadline stands as given.
    std::uint32_t minimumBytesPerSecond = 0;
    // Other limits than the mode's own (see httpPatienceFor); the launcher always uses the mode's.
    std::optional<HttpPatience> patience = std::nullopt;
    // When set, receives what the servers answered; changes nothing about the exchange.
    HttpExchangeRecord* record = nullptr;
};

// The limits `request` runs with: its own when given, else its mode's. A login waits 15 s to
// connect and 25 s for its reply; a download 15 s to connect and 60 s for each piece, however
// long the whole takes; the update check's manifest 5 s to connect and 8 s for its reply, since
// it holds up the start.
HttpPatience httpPatienceFor(const HttpRequest& request);

// One blocking HTTP(S) exchange on the calling worker thread. Every URL contacted, the first and
// each redirect target, must pass the endpoint rules for the mode, and be HTTPS when `httpsOnly`
// (refused like a forbidden address otherwise). The body streams through
// `sink`; `progress` (may be empty) hears "正在下载客户端" at most every 100 ms and a final
// "正在校验安装包". Throws Error with the player's sentence, Canceled once `token` is cancelled,
// or what the sink or progress callback threw. Never retries.
void httpTransfer(const HttpRequest& request, CancelToken& token, const ChunkSink& sink,
                  const ProgressCallback& progress);

// Reads a Content-Length value: leading white space skipped, digits read up to the first
// non-digit. Empty if no digit can be read or the number does not fit in 64 bits.
std::optional<std::uint64_t> parseContentLengthForTesting(std::wstring_view text);

} // namespace launcher
