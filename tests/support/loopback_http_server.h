#pragma once

// A scripted HTTP/1.1 server on 127.0.0.1 for the network tests. Each accepted connection reads
// one request, records it and hands it to the test's handler, which writes whatever raw bytes
// the test needs (honest or lying headers, trickles, stalls) and returns to close the connection,
// or keeps it alive for the next request. Connections are served one at a time, or each on a
// thread of its own; the server counts them.
#include <winsock2.h>

#include "foundation/unique_handle.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace launcher::testing {

struct ReceivedRequest {
    std::string method;
    std::string target;  // path and query as sent
    std::string headers; // raw header lines after the request line
    std::string body;

    // The value of a header, matched without regard to case; empty if absent.
    std::string header(std::string_view name) const;
};

class Exchange {
public:
    const ReceivedRequest& request;

    void send(std::string_view bytes);
    // Waits until the server is shutting down or `milliseconds` have passed; true on shutdown.
    bool waitForStop(int milliseconds);
    // Once the handler returns, reads the connection's next request instead of closing it. The
    // answer must then not say "Connection: close" (see fileResponse).
    void keepAlive() { keepAlive_ = true; }

private:
    friend class LoopbackHttpServer;
    Exchange(const ReceivedRequest& received, SOCKET socket, HANDLE stopEvent)
        : request(received), socket_(socket), stopEvent_(stopEvent) {}
    SOCKET socket_;
    HANDLE stopEvent_;
    bool keepAlive_ = false;
};

enum class Connections { oneAtATime, concurrent };

class LoopbackHttpServer {
public:
    using Handler = std::function<void(Exchange&)>;

    // Listens on 127.0.0.1:`port` (0 picks a free port). Throws if the port cannot be bound.
    // With Connections::concurrent the handler runs on several threads at once.
    LoopbackHttpServer(std::uint16_t port, Handler handler,
                       Connections connections = Connections::oneAtATime);
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    std::uint16_t port() const { return port_; }
    std::vector<ReceivedRequest> requests() const;
    std::size_t connectionsAccepted() const;
    // The most connections that were open at the same moment.
    std::size_t mostConnectionsAtOnce() const;
    // Waits until `count` connections have been open at once, or `milliseconds` have passed.
    bool waitForConnectionsAtOnce(std::size_t count, int milliseconds);

private:
    void serve();
    void serveConnection(SOCKET client);
    bool readRequest(SOCKET client, std::string& pending, ReceivedRequest& request);
    bool receiveMore(SOCKET client, std::string& pending);

    Handler handler_;
    Connections connections_;
    SOCKET listener_ = INVALID_SOCKET;
    std::uint16_t port_ = 0;
    UniqueKernelHandle stopEvent_;
    mutable std::mutex lock_;
    std::vector<ReceivedRequest> requests_;                // guarded by lock_
    std::size_t accepted_ = 0, open_ = 0, mostAtOnce_ = 0; // guarded by lock_
    std::condition_variable connectionsChanged_;
    std::vector<std::thread> connectionThreads_; // concurrent connections, joined after thread_
    std::thread thread_;
};

// A complete response with a correct Content-Length.
std::string httpResponse(int status, std::string_view body, std::string_view extraHeaders = "");

// The status line and headers only; `contentLength` < 0 sends no Content-Length header.
std::string httpHead(int status, long long contentLength, std::string_view extraHeaders = "");

// A file server's answer with `content` that keeps the connection open: 206 with its Content-Range
// for a `range` header "bytes=first-last", 200 with all of it when `range` is empty.
std::string fileResponse(std::string_view range, std::string_view content);

} // namespace launcher::testing
