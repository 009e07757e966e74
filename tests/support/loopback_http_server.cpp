#include "support/loopback_http_server.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <stdexcept>

namespace launcher::testing {
namespace {

std::string lower(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return result;
}

struct WinsockUser {
    WinsockUser() {
        WSADATA data;
        if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) throw std::runtime_error("WSAStartup failed");
    }
    ~WinsockUser() { ::WSACleanup(); }
};

const char* reason(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 206:
        return "Partial Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 304:
        return "Not Modified";
    case 307:
        return "Temporary Redirect";
    case 308:
        return "Permanent Redirect";
    case 404:
        return "Not Found";
    case 429:
        return "Too Many Requests";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

} // namespace

std::string ReceivedRequest::header(std::string_view name) const {
    const std::string wanted = lower(name) + ":";
    std::size_t start = 0;
    while (start < headers.size()) {
        std::size_t end = headers.find("\r\n", start);
        if (end == std::string::npos) end = headers.size();
        const std::string line = headers.substr(start, end - start);
        if (lower(line).starts_with(wanted)) {
            std::string value = line.substr(wanted.size());
            value.erase(0, value.find_first_not_of(' '));
            return value;
        }
        start = end + 2;
    }
    return {};
}

void Exchange::send(std::string_view bytes) {
    while (!bytes.empty()) {
        const int sent =
            ::send(socket_, bytes.data(), static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 20)), 0);
        if (sent <= 0) return; // the client went away; the test sees that on its side
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
}

bool Exchange::waitForStop(int milliseconds) {
    return ::WaitForSingleObject(stopEvent_, static_cast<DWORD>(milliseconds)) == WAIT_OBJECT_0;
}

LoopbackHttpServer::LoopbackHttpServer(std::uint16_t port, Handler handler, Connections connections)
    : handler_(std::move(handler)), connections_(connections) {
    static WinsockUser winsock;
    listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener_ == INVALID_SOCKET) throw std::runtime_error("socket failed");
    BOOL reuse = TRUE;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof(reuse));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listener_, 16) != 0) {
        const int error = ::WSAGetLastError();
        ::closesocket(listener_);
        throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port) + " (error " +
                                 std::to_string(error) + ")");
    }
    int length = sizeof(address);
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    stopEvent_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    thread_ = std::thread([this] { serve(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
    ::SetEvent(stopEvent_.get());
    thread_.join();
    for (std::thread& connection : connectionThreads_)
        connection.join();
    ::closesocket(listener_);
}

std::vector<ReceivedRequest> LoopbackHttpServer::requests() const {
    std::lock_guard guard(lock_);
    return requests_;
}

std::size_t LoopbackHttpServer::connectionsAccepted() const {
    std::lock_guard guard(lock_);
    return accepted_;
}

std::size_t LoopbackHttpServer::mostConnectionsAtOnce() const {
    std::lock_guard guard(lock_);
    return mostAtOnce_;
}

bool LoopbackHttpServer::waitForConnectionsAtOnce(std::size_t count, int milliseconds) {
    std::unique_lock guard(lock_);
    return connectionsChanged_.wait_for(guard, std::chrono::milliseconds(milliseconds),
                                        [&] { return mostAtOnce_ >= count; });
}

void LoopbackHttpServer::serve() {
    while (::WaitForSingleObject(stopEvent_.get(), 0) != WAIT_OBJECT_0) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(listener_, &readable);
        timeval wait{0, 20000};
        if (::select(0, &readable, nullptr, nullptr, &wait) != 1) continue;
        const SOCKET client = ::accept(listener_, nullptr, nullptr);
        if (client == INVALID_SOCKET) continue;
        // A client that stops reading (one that took the part of a body it wanted) must not keep
        // a send, and the server's shutdown, waiting for ever.
        const DWORD sendLimitMs = 10000;
        ::setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&sendLimitMs),
                     sizeof(sendLimitMs));
        {
            std::lock_guard guard(lock_);
            ++accepted_;
            mostAtOnce_ = std::max(mostAtOnce_, ++open_);
        }
        connectionsChanged_.notify_all();
        if (connections_ == Connections::concurrent)
            connectionThreads_.emplace_back([this, client] { serveConnection(client); });
        else
            serveConnection(client);
    }
}

void LoopbackHttpServer::serveConnection(SOCKET client) {
    std::string pending;
    ReceivedRequest request;
    bool keepAlive = true;
    while (keepAlive && readRequest(client, pending, request)) {
        {
            std::lock_guard guard(lock_);
            requests_.push_back(request);
        }
        Exchange exchange(request, client, stopEvent_.get());
        handler_(exchange);
        keepAlive = exchange.keepAlive_;
    }
    ::shutdown(client, SD_BOTH);
    ::closesocket(client);
    std::lock_guard guard(lock_);
    --open_;
}

// Reads the next request of the connection, keeping what follows it in `pending`. False when the
// connection ends, or stays silent, before a whole request head arrived.
bool LoopbackHttpServer::readRequest(SOCKET client, std::string& pending, ReceivedRequest& request) {
    std::size_t headerEnd;
    while ((headerEnd = pending.find("\r\n\r\n")) == std::string::npos)
        if (!receiveMore(client, pending)) return false;
    request = {};
    const std::size_t lineEnd = pending.find("\r\n");
    const std::string line = pending.substr(0, lineEnd);
    const std::size_t firstSpace = line.find(' ');
    const std::size_t secondSpace = line.find(' ', firstSpace + 1);
    request.method = line.substr(0, firstSpace);
    request.target = line.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    request.headers = pending.substr(lineEnd + 2, headerEnd + 2 - (lineEnd + 2));
    const std::string length = request.header("Content-Length");
    const std::size_t expected = length.empty() ? 0 : std::stoul(length);
    const std::size_t bodyStart = headerEnd + 4;
    while (pending.size() - bodyStart < expected && receiveMore(client, pending)) {
    }
    request.body = pending.substr(bodyStart, expected);
    pending.erase(0, std::min(pending.size(), bodyStart + expected));
    return true;
}

// Appends what arrives next; false when the connection ended, stayed silent for 5 s or the server
// is stopping.
bool LoopbackHttpServer::receiveMore(SOCKET client, std::string& pending) {
    for (int waitedMs = 0; waitedMs < 5000; waitedMs += 20) {
        if (::WaitForSingleObject(stopEvent_.get(), 0) == WAIT_OBJECT_0) return false;
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(client, &readable);
        timeval wait{0, 20000};
        if (::select(0, &readable, nullptr, nullptr, &wait) != 1) continue;
        char buffer[8192];
        const int got = ::recv(client, buffer, sizeof(buffer), 0);
        if (got <= 0) return false;
        pending.append(buffer, static_cast<std::size_t>(got));
        return true;
    }
    return false;
}

std::string httpHead(int status, long long contentLength, std::string_view extraHeaders) {
    std::string head = "HTTP/1.1 " + std::to_string(status) + " " + reason(status) + "\r\n";
    if (contentLength >= 0) head += "Content-Length: " + std::to_string(contentLength) + "\r\n";
    head += "Connection: close\r\n";
    head += extraHeaders;
    head += "\r\n";
    return head;
}

std::string httpResponse(int status, std::string_view body, std::string_view extraHeaders) {
    return httpHead(status, static_cast<long long>(body.size()), extraHeaders) + std::string(body);
}

std::string fileResponse(std::string_view range, std::string_view content) {
    if (range.empty())
        return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(content.size()) + "\r\n\r\n" +
               std::string(content);
    const std::size_t start = range.find('=') + 1;
    const std::size_t dash = range.find('-');
    const std::size_t first = std::stoull(std::string(range.substr(start, dash - start)));
    const std::size_t last =
        std::min<std::size_t>(std::stoull(std::string(range.substr(dash + 1))), content.size() - 1);
    if (first > last) return "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Length: 0\r\n\r\n";
    return "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(first) + "-" +
           std::to_string(last) + "/" + std::to_string(content.size()) +
           "\r\nContent-Length: " + std::to_string(last - first + 1) + "\r\n\r\n" +
           std::string(content.substr(first, last - first + 1));
}

} // namespace launcher::testing
