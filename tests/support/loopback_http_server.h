#pragma once

// A scripted HTTP/1.1 server on 127.0.0.1 for the network tests. Each accepted connection reads
// one request, records it and hands it to the test's handler, which writes whatever raw bytes
// the test needs (honest or lying headers, trickles, stalls) and returns to close the connection.
#include <winsock2.h>

#include "foundation/unique_handle.h"

#include <atomic>
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

private:
    friend class LoopbackHttpServer;
    Exchange(const ReceivedRequest& received, SOCKET socket, HANDLE stopEvent)
        : request(received), socket_(socket), stopEvent_(stopEvent) {}
    SOCKET socket_;
    HANDLE stopEvent_;
};

class LoopbackHttpServer {
public:
    using Handler = std::function<void(Exchange&)>;

    // Listens on 127.0.0.1:`port` (0 picks a free port). Throws if the port cannot be bound.
    LoopbackHttpServer(std::uint16_t port, Handler handler);
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    std::uint16_t port() const { return port_; }
    std::vector<ReceivedRequest> requests() const;

private:
    void serve();
    void handle(SOCKET client);

    Handler handler_;
    SOCKET listener_ = INVALID_SOCKET;
    std::uint16_t port_ = 0;
    UniqueKernelHandle stopEvent_;
    mutable std::mutex lock_;
    std::vector<ReceivedRequest> requests_;
    std::thread thread_;
};

// A complete response with a correct Content-Length.
std::string httpResponse(int status, std::string_view body, std::string_view extraHeaders = "");

// The status line and headers only; `contentLength` < 0 sends no Content-Length header.
std::string httpHead(int status, long long contentLength, std::string_view extraHeaders = "");

} // namespace launcher::testing
