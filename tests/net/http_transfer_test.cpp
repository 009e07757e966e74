#include "config/deployment.h"
#include "net/http_transfer.h"
#include "support/loopback_http_server.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

namespace launcher {
namespace {

using testing::Exchange;
using testing::failureOf;
using testing::httpHead;
using testing::httpResponse;
using testing::LoopbackHttpServer;
using testing::patternBytes;

const std::wstring packagePath = L"/K3ClientRes/exe/TalvoPC/2026-11-09/TalvoPC.zip";
const std::wstring packageUrl = L"http://" + std::wstring(packageHost) + packagePath + L"?v=1";
const std::wstring loginUrl = L"http://" + std::wstring(lanLoginHost) + L":9915" + std::wstring(lanLoginPath);

struct ProgressReport {
    std::wstring status;
    std::uint64_t done;
    std::uint64_t total;
};

// Runs one transfer and keeps what reached the sink and the progress callback.
struct Transfer {
    HttpRequest request;
    CancelToken token;
    std::string received;
    std::vector<ProgressReport> reports;

    explicit Transfer(std::wstring url, bool downloadMode = true, std::uint64_t maxBytes = 1 << 30) {
        request.url = std::move(url);
        request.downloadMode = downloadMode;
        request.maxBytes = maxBytes;
    }

    std::string run() {
        return failureOf([this] {
            httpTransfer(
                request, token,
                [this](const std::uint8_t* bytes, std::uint32_t count) {
                    EXPECT_GE(count, 1u);
                    EXPECT_LE(count, 131072u);
                    received.append(reinterpret_cast<const char*>(bytes), count);
                },
                [this](const std::wstring& status, std::uint64_t done, std::uint64_t total) {
                    reports.push_back({status, done, total});
                });
        });
    }
};

TEST(HttpDownload, StreamsTheBodyWithStartAndFinalProgress) {
    const std::string body = patternBytes(3 * 131072 + 17);
    LoopbackHttpServer server(packagePort,
                              [&](Exchange& exchange) { exchange.send(httpResponse(200, body)); });
    Transfer transfer(packageUrl);
    EXPECT_EQ(transfer.run(), "<no error>");
    EXPECT_EQ(transfer.received, body);

    ASSERT_GE(transfer.reports.size(), 2u);
    EXPECT_EQ(transfer.reports.front().status, L"正在下载客户端");
    EXPECT_EQ(transfer.reports.front().done, 0u);
    EXPECT_EQ(transfer.reports.front().total, body.size());
    EXPECT_EQ(transfer.reports.back().status, L"正在校验安装包");
    EXPECT_EQ(transfer.reports.back().done, body.size());
    EXPECT_EQ(transfer.reports.back().total, body.size());

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, "/K3ClientRes/exe/TalvoPC/2026-11-09/TalvoPC.zip?v=1");
    EXPECT_EQ(requests[0].header("User-Agent"), "YaoShiJiYuan/0.6.0");
    EXPECT_EQ(requests[0].header("Accept"), "*/*");
    EXPECT_EQ(requests[0].header("Content-Type"), "");
    EXPECT_EQ(requests[0].body, "");
}

TEST(HttpDownload, BodyWithoutLengthIsAcceptedAndTheFinalTotalIsWhatArrived) {
    const std::string body = patternBytes(200000);
    LoopbackHttpServer server(packagePort,
                              [&](Exchange& exchange) { exchange.send(httpHead(200, -1) + body); });
    Transfer transfer(packageUrl);
    EXPECT_EQ(transfer.run(), "<no error>");
    EXPECT_EQ(transfer.received, body);
    for (std::size_t i = 0; i + 1 < transfer.reports.size(); ++i)
        EXPECT_EQ(transfer.reports[i].total, 0u);
    EXPECT_EQ(transfer.reports.back().status, L"正在校验安装包");
    EXPECT_EQ(transfer.reports.back().total, body.size());
}

TEST(HttpDownload, WithoutAProgressCallbackNothingIsReported) {
    LoopbackHttpServer server(packagePort,
                              [&](Exchange& exchange) { exchange.send(httpResponse(200, "abc")); });
    CancelToken token;
    std::string received;
    httpTransfer({.url = packageUrl, .body = {}, .usePost = false, .downloadMode = true, .maxBytes = 3},
                 token,
                 [&](const std::uint8_t* bytes, std::uint32_t count) {
                     received.append(reinterpret_cast<const char*>(bytes), count);
                 },
                 {});
    EXPECT_EQ(received, "abc");
}

TEST(HttpDownload, BodyShorterThanAnnouncedIsIncomplete) {
    LoopbackHttpServer server(packagePort,
                              [](Exchange& exchange) { exchange.send(httpHead(200, 1000) + "short"); });
    Transfer transfer(packageUrl);
    EXPECT_EQ(transfer.run(), "下载内容不完整，请重试。");
}

TEST(HttpDownload, BodyLongerThanAnnouncedNeverSucceedsWithTheExtraBytes) {
    LoopbackHttpServer server(
        packagePort, [](Exchange& exchange) { exchange.send(httpHead(200, 4) + "abcdEXTRA BYTES"); });
    Transfer transfer(packageUrl);
    const std::string outcome = transfer.run();
    // Windows stops reading at Content-Length; Wine passes the extra bytes on and the length check
    // then fails the transfer.
    if (outcome == "<no error>")
        EXPECT_EQ(transfer.received, "abcd");
    else
        EXPECT_EQ(outcome, "下载内容不完整，请重试。");
}

TEST(HttpDownload, SizeLimitHoldsForAnnouncedAndReceivedBytes) {
    const std::string body = patternBytes(1000);
    {
        LoopbackHttpServer server(packagePort,
                                  [&](Exchange& exchange) { exchange.send(httpResponse(200, body)); });
        Transfer exact(packageUrl, true, 1000);
        EXPECT_EQ(exact.run(), "<no error>");
        Transfer over(packageUrl, true, 999);
        EXPECT_EQ(over.run(), "下载内容超过允许大小。");
        EXPECT_EQ(over.received, "") << "refused before anything reached the sink";
    }
    LoopbackHttpServer server(packagePort,
                              [&](Exchange& exchange) { exchange.send(httpHead(200, -1) + body); });
    Transfer unannounced(packageUrl, true, 999);
    EXPECT_EQ(unannounced.run(), "下载内容超过允许大小。");
    EXPECT_LE(unannounced.received.size(), 999u);
}

TEST(HttpDownload, UnreadableContentLengthIsRefused) {
    for (const char* length : {"abc", "-5", "18446744073709551616"}) {
        LoopbackHttpServer server(packagePort, [&](Exchange& exchange) {
            exchange.send(std::string("HTTP/1.1 200 OK\r\nContent-Length: ") + length +
                          "\r\nConnection: close\r\n\r\n");
        });
        Transfer transfer(packageUrl);
        const std::string outcome = transfer.run();
        // WinHTTP may already refuse such a header while reading the response.
        EXPECT_TRUE(outcome == "服务器返回的文件大小无效。" || outcome == "网络连接失败，请检查网络后重试。")
            << length << ": " << outcome;
    }
    EXPECT_EQ(parseContentLengthForTesting(L" 42 bytes"), 42u);
    EXPECT_EQ(parseContentLengthForTesting(L"18446744073709551615"), UINT64_MAX);
    EXPECT_EQ(parseContentLengthForTesting(L"18446744073709551616"), std::nullopt);
    EXPECT_EQ(parseContentLengthForTesting(L"x1"), std::nullopt);
    EXPECT_EQ(parseContentLengthForTesting(L""), std::nullopt);
}

TEST(HttpStatus, EveryStatusButOkFailsWithTheMessageOfTheMode) {
    for (const int status : {204, 206, 300, 304, 404, 500, 503}) {
        LoopbackHttpServer server(packagePort,
                                  [&](Exchange& exchange) { exchange.send(httpResponse(status, "")); });
        EXPECT_EQ(Transfer(packageUrl).run(), "客户端下载服务暂不可用，请稍后重试。") << status;
    }
    LoopbackHttpServer server(lanLoginPort,
                              [&](Exchange& exchange) { exchange.send(httpResponse(503, "busy")); });
    EXPECT_EQ(Transfer(loginUrl, false).run(), "登录服务暂不可用，请稍后重试。");
}

TEST(HttpStatus, RateLimitAndProxyAuthenticationHaveTheirOwnMessageInBothModes) {
    const struct {
        int status;
        const char* extraHeaders;
        const char* message;
    } cases[] = {
        {429, "", "操作过于频繁，请稍后重试。"},
        {407, "Proxy-Authenticate: Basic realm=\"office\"\r\n", "网络代理需要身份验证，请检查代理设置。"},
    };
    for (const auto& [status, extraHeaders, message] : cases) {
        const auto answer = [&](Exchange& exchange) {
            exchange.send(httpResponse(status, "", extraHeaders));
        };
        LoopbackHttpServer packages(packagePort, answer);
        LoopbackHttpServer logins(lanLoginPort, answer);
        EXPECT_EQ(Transfer(packageUrl).run(), message) << status;
        EXPECT_EQ(Transfer(loginUrl, false).run(), message) << status;
    }
}

TEST(HttpRedirect, RelativeLocationIsResolvedAgainstTheCurrentUrl) {
    LoopbackHttpServer server(packagePort, [](Exchange& exchange) {
        if (exchange.request.target.starts_with("/K3ClientRes/exe/TalvoPC/2026-11-09/"))
            exchange.send(httpResponse(302, "", "Location: ../mirror/TalvoPC.zip?v=2\r\n"));
        else
            exchange.send(httpResponse(200, "package"));
    });
    Transfer transfer(packageUrl);
    EXPECT_EQ(transfer.run(), "<no error>");
    EXPECT_EQ(transfer.received, "package");
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].target, "/K3ClientRes/exe/TalvoPC/mirror/TalvoPC.zip?v=2");
}

TEST(HttpRedirect, FiveRedirectsAreFollowedAndASixthIsTooMany) {
    for (const int redirects : {5, 6}) {
        LoopbackHttpServer server(packagePort, [&](Exchange& exchange) {
            const int hop = std::stoi(exchange.request.target.substr(exchange.request.target.rfind('=') + 1));
            // Alternate absolute URLs and absolute paths as the Location.
            const std::string next = "/K3ClientRes/exe/TalvoPC/c.zip?hop=" + std::to_string(hop + 1);
            const std::string origin = hop % 2 ? "http://" + std::string(packageHostUtf8) : "";
            if (hop < redirects)
                exchange.send(httpResponse(hop % 2 ? 307 : 301, "", "Location: " + origin + next + "\r\n"));
            else
                exchange.send(httpResponse(200, "done"));
        });
        Transfer transfer(L"http://" + std::wstring(packageHost) + L"/K3ClientRes/exe/TalvoPC/c.zip?hop=0");
        EXPECT_EQ(transfer.run(), redirects == 5 ? "<no error>" : "下载重定向次数过多。");
        EXPECT_EQ(server.requests().size(), 6u);
        EXPECT_EQ(transfer.received, redirects == 5 ? "done" : "") << "redirect bodies never reach the sink";
    }
}

TEST(HttpRedirect, ForbiddenOrMissingTargetsAreRefusedBeforeBeingContacted) {
    LoopbackHttpServer server(packagePort, [](Exchange& exchange) {
        if (exchange.request.target.find("missing") != std::string::npos)
            exchange.send(httpResponse(302, "moved"));
        else
            exchange.send(httpResponse(303, "", "Location: /elsewhere/TalvoPC.zip\r\n"));
    });
    EXPECT_EQ(Transfer(packageUrl).run(), "网络请求或重定向地址不符合要求。");
    EXPECT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(
        Transfer(L"http://" + std::wstring(packageHost) + L"/K3ClientRes/exe/TalvoPC/missing.zip").run(),
        "下载重定向地址无效。");
    EXPECT_EQ(Transfer(L"http://" + std::wstring(packageHost) + L"/elsewhere/a.zip").run(),
              "网络请求或重定向地址不符合要求。");
    EXPECT_EQ(server.requests().size(), 2u);
}

TEST(HttpRedirect, LoginIsNeverRedirected) {
    LoopbackHttpServer server(lanLoginPort, [](Exchange& exchange) {
        exchange.send(httpResponse(302, "", "Location: " + testing::narrow(loginUrl) + "\r\n"));
    });
    EXPECT_EQ(Transfer(loginUrl, false).run(), "登录服务地址发生跳转，请联系管理员。");
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST(HttpLogin, PostSendsTheBodyWithJsonHeaders) {
    LoopbackHttpServer server(lanLoginPort,
                              [](Exchange& exchange) { exchange.send(httpResponse(200, "{}")); });
    Transfer transfer(loginUrl, false, 65536);
    transfer.request.usePost = true;
    transfer.request.body = "{\"password\":\"p\",\"username\":\"中\"}";
    EXPECT_EQ(transfer.run(), "<no error>");
    EXPECT_EQ(transfer.received, "{}");
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].body, transfer.request.body);
    EXPECT_EQ(requests[0].header("Content-Type"), "application/json; charset=utf-8");
    EXPECT_EQ(requests[0].header("Accept"), "application/json");
    EXPECT_EQ(requests[0].header("Content-Length"), std::to_string(transfer.request.body.size()));
}

TEST(HttpLogin, ReplyOverTheLimitIsRefused) {
    LoopbackHttpServer server(
        lanLoginPort, [](Exchange& exchange) { exchange.send(httpResponse(200, std::string(65537, ' '))); });
    EXPECT_EQ(Transfer(loginUrl, false, 65536).run(), "下载内容超过允许大小。");
}

TEST(HttpLogin, ReplyTricklingPastTheTimeLimitFails) {
    LoopbackHttpServer server(lanLoginPort, [](Exchange& exchange) {
        exchange.send(httpHead(200, 200));
        for (int i = 0; i < 200 && !exchange.waitForStop(150); ++i)
            exchange.send(" ");
    });
    // The login's own limits (HttpPatience.EachKindOfExchangeHasItsOwnLimits) with a whole-body
    // limit of one second instead of 25, so the test need not wait them out.
    constexpr ULONGLONG bodyLimitMs = 1000;
    Transfer transfer(loginUrl, false, 65536);
    transfer.request.patience = HttpPatience{15000, 25000, bodyLimitMs};
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(transfer.run(), "登录请求超时，请重试。");
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    EXPECT_GE(elapsed.count(), static_cast<long long>(bodyLimitMs));
    EXPECT_LT(elapsed.count(), static_cast<long long>(bodyLimitMs) + 4000);
}

// How long each kind of exchange may keep the player waiting: a slow login is given up, a slow
// download goes on as long as each piece arrives, and a silent update server barely delays the start.
TEST(HttpPatience, EachKindOfExchangeHasItsOwnLimits) {
    struct Case {
        const char* what;
        bool downloadMode;
        bool updateChannel;
        HttpPatience expected;
    };
    for (const Case& c : {Case{"login", false, false, {15000, 25000, 25000}},
                          Case{"package download", true, false, {15000, 60000, 0}},
                          Case{"update manifest", false, true, {5000, 8000, 8000}},
                          Case{"launcher build", true, true, {15000, 60000, 0}}}) {
        HttpRequest request;
        request.downloadMode = c.downloadMode;
        request.updateChannel = c.updateChannel;
        const HttpPatience patience = httpPatienceFor(request);
        EXPECT_EQ(patience.connectMs, c.expected.connectMs) << c.what;
        EXPECT_EQ(patience.receiveMs, c.expected.receiveMs) << c.what;
        EXPECT_EQ(patience.bodyMs, c.expected.bodyMs) << c.what;
    }
}

// A launcher build served a byte now and then never runs into a time-out of its own: the request's
// deadline ends it, and a body announced larger may take longer at the slowest acceptable rate.
TEST(HttpDeadline, TrickleEndsAtTheDeadlineUnlessTheAnnouncedSizeAllowsMore) {
    LoopbackHttpServer server(packagePort, [](Exchange& exchange) {
        exchange.send(httpHead(200, 8));
        for (int i = 0; i < 8 && !exchange.waitForStop(250); ++i)
            exchange.send("x");
    });
    struct Case {
        std::uint32_t minimumBytesPerSecond;
        const char* outcome;
    };
    // The server serves one connection at a time: the trickle that is cut off goes last.
    for (const Case& c : {Case{2, "<no error>"}, Case{0, "更新检查超时。"}}) {
        Transfer transfer(L"http://" + std::wstring(packageHost) +
                          L"/K3ClientRes/exe/TalvoPC/up/Gatehouse.exe");
        transfer.request.updateChannel = true;
        transfer.request.deadline = ::GetTickCount64() + 800;
        transfer.request.minimumBytesPerSecond = c.minimumBytesPerSecond;
        EXPECT_EQ(transfer.run(), c.outcome) << c.minimumBytesPerSecond;
    }
}

TEST(HttpFailure, RefusedAddressesAreNeverContacted) {
    LoopbackHttpServer server(packagePort, [](Exchange& exchange) { exchange.send(httpResponse(200, "x")); });
    EXPECT_EQ(Transfer(L"http://" + std::wstring(packageHost) + L"/K3ClientRes/exe/TalvoPC/a.exe").run(),
              "网络请求或重定向地址不符合要求。");
    EXPECT_EQ(Transfer(packageUrl, false).run(), "网络请求或重定向地址不符合要求。") << "login purpose";
    EXPECT_EQ(server.requests().size(), 0u);
}

TEST(HttpFailure, ClosedConnectionOrNoServerIsANetworkFailure) {
    {
        LoopbackHttpServer server(packagePort, [](Exchange&) {});
        EXPECT_EQ(Transfer(packageUrl).run(), "网络连接失败，请检查网络后重试。");
    }
    EXPECT_EQ(Transfer(packageUrl).run(), "网络连接失败，请检查网络后重试。");
}

TEST(HttpFailure, SinkFailureReachesTheCallerUnchanged) {
    LoopbackHttpServer server(packagePort,
                              [](Exchange& exchange) { exchange.send(httpResponse(200, "abc")); });
    CancelToken token;
    EXPECT_EQ(failureOf([&] {
                  httpTransfer(
                      {.url = packageUrl, .body = {}, .usePost = false, .downloadMode = true, .maxBytes = 10},
                      token,
                      [](const std::uint8_t*, std::uint32_t) { throw std::runtime_error("disk full"); }, {});
              }),
              "<other: disk full>");
}

TEST(HttpCancel, CancelWhileTheServerStallsEndsWithCanceled) {
    std::promise<void> bodyStarted;
    LoopbackHttpServer server(packagePort, [&](Exchange& exchange) {
        exchange.send(httpHead(200, 1000000) + "first bytes");
        bodyStarted.set_value();
        // Windows wakes the blocked read as soon as the request is closed; Wine 8 does not, so the
        // server gives up after a while and the transfer must still report the cancellation.
        exchange.waitForStop(3000);
    });
    Transfer transfer(packageUrl);
    auto outcome = std::async(std::launch::async, [&] { return transfer.run(); });
    bodyStarted.get_future().wait();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    cancel(transfer.token);
    EXPECT_EQ(outcome.get(), "操作已取消");
}

TEST(HttpCancel, CancelWhileWaitingForTheResponseEndsWithCanceled) {
    std::promise<void> requestArrived;
    LoopbackHttpServer server(lanLoginPort, [&](Exchange& exchange) {
        requestArrived.set_value();
        exchange.waitForStop(3000); // no answer at all; see above for why the wait is bounded
    });
    Transfer transfer(loginUrl, false, 65536);
    auto outcome = std::async(std::launch::async, [&] { return transfer.run(); });
    requestArrived.get_future().wait();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    cancel(transfer.token);
    EXPECT_EQ(outcome.get(), "操作已取消");
}

TEST(HttpCancel, CancelledTokenStopsBeforeAnyRequest) {
    LoopbackHttpServer server(packagePort, [](Exchange& exchange) { exchange.send(httpResponse(200, "x")); });
    Transfer transfer(packageUrl);
    cancel(transfer.token);
    EXPECT_EQ(transfer.run(), "操作已取消");
    EXPECT_EQ(server.requests().size(), 0u);
}

} // namespace
} // namespace launcher
