#include "support/loopback_http_server.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cctype>
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

LoopbackHttpServer::LoopbackHttpServer(std::uint16_t port, Handler handler) : handler_(std::move(handler)) {
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
    ::closesocket(listener_);
}

std::vector<ReceivedRequest> LoopbackHttpServer::requests() const {
    std::lock_guard guard(lock_);
    return requests_;
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
        handle(client);
        ::shutdown(client, SD_BOTH);
        ::closesocket(client);
    }
}

void LoopbackHttpServer::handle(SOCKET client) {
    DWORD timeout = 5000;
    ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
    std::string data;
    char buffer[8192];
    std::size_t headerEnd;
    while ((headerEnd = data.find("\r\n\r\n")) == std::string::npos) {
        const int got = ::recv(client, buffer, sizeof(buffer), 0);
        if (got <= 0) return;
        data.append(buffer, static_cast<std::size_t>(got));
    }
    ReceivedRequest request;
    const std::size_t lineEnd = data.find("\r\n");
    const std::string line = data.substr(0, lineEnd);
    const std::size_t firstSpace = line.find(' ');
    const std::size_t secondSpace = line.find(' ', firstSpace + 1);
    request.method = line.substr(0, firstSpace);
    request.target = line.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    request.headers = data.substr(lineEnd + 2, headerEnd + 2 - (lineEnd + 2));
    request.body = data.substr(headerEnd + 4);
    const std::string length = request.header("Content-Length");
    const std::size_t expected = length.empty() ? 0 : std::stoul(length);
    while (request.body.size() < expected) {
        const int got = ::recv(client, buffer, sizeof(buffer), 0);
        if (got <= 0) break;
        request.body.append(buffer, static_cast<std::size_t>(got));
    }
    {
        std::lock_guard guard(lock_);
        requests_.push_back(request);
    }
    Exchange exchange(request, client, stopEvent_.get());
    handler_(exchange);
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

} // namespace launcher::testing
