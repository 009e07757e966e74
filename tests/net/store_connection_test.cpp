#include "config/deployment.h"
#include "net/store_connection.h"
#include "support/loopback_http_server.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <functional>

namespace launcher {
namespace {

using testing::Connections;
using testing::Exchange;
using testing::failureOf;
using testing::fileResponse;
using testing::httpHead;
using testing::httpResponse;
using testing::LoopbackHttpServer;
using testing::patternBytes;
using testing::ReceivedRequest;

const std::wstring packUrl = L"http://" + std::wstring(packageHost) +
                             L"/K3ClientRes/exe/TalvoPC/store/packs/" + std::wstring(64, L'a') + L".pack";

struct Fetched {
    std::string outcome;
    std::string bytes;
};

Fetched fetchRange(StoreConnection& connection, const std::wstring& url, ByteRange range) {
    CancelToken token;
    Fetched fetched;
    fetched.outcome = failureOf([&] {
        connection.fetch(url, range, token, [&](const std::uint8_t* bytes, std::uint32_t count) {
            EXPECT_GE(count, 1u);
            EXPECT_LE(count, 131072u);
            fetched.bytes.append(reinterpret_cast<const char*>(bytes), count);
        });
    });
    return fetched;
}

// What the pack server answers, and what reaches the sink: only the range asked for is taken.
TEST(StoreFetch, OnlyTheRangeAskedForIsTaken) {
    const std::string content = patternBytes(400000);
    const ByteRange inside{1000, 300000};
    const std::string wanted = content.substr(1000, 300000);
    const char* unavailable = "客户端下载服务暂不可用，请稍后重试。";
    struct Case {
        const char* what;
        std::function<std::string(const ReceivedRequest&)> answer;
        ByteRange range;
        const char* outcome;
        std::string bytes;
        std::size_t requests;
    };
    const Case cases[] = {
        {"206 for the range asked",
         [&](const ReceivedRequest& request) { return fileResponse(request.header("Range"), content); },
         inside, "<no error>", wanted, 1},
        {"206 that starts elsewhere",
         [&](const ReceivedRequest&) {
             return httpResponse(206, content.substr(0, 300000), "Content-Range: bytes 0-299999/400000\r\n");
         },
         inside, unavailable, "", 1},
        {"206 that covers less",
         [&](const ReceivedRequest&) {
             return httpResponse(206, content.substr(1000, 1000),
                                 "Content-Range: bytes 1000-1999/400000\r\n");
         },
         inside, unavailable, "", 1},
        {"200 for a range at the start", [&](const ReceivedRequest&) { return fileResponse("", content); },
         ByteRange{0, 5000}, "<no error>", content.substr(0, 5000), 1},
        {"200 for a range past the start", [&](const ReceivedRequest&) { return fileResponse("", content); },
         inside, unavailable, "", 1},
        {"body cut short",
         [&](const ReceivedRequest&) {
             return httpHead(206, 300000, "Content-Range: bytes 1000-300999/400000\r\n") +
                    content.substr(1000, 100000);
         },
         inside, "下载内容不完整，请重试。", content.substr(1000, 100000), 1},
        {"redirect within the store, range asked again",
         [&](const ReceivedRequest& request) {
             if (request.target.find("/packs/") != std::string::npos)
                 return httpResponse(307, "", "Location: ../mirror/a.pack\r\n");
             return fileResponse(request.header("Range"), content);
         },
         inside, "<no error>", wanted, 2},
        {"redirect to a refused address",
         [&](const ReceivedRequest&) {
             return httpResponse(302, "", "Location: http://127.0.0.1/elsewhere/a.pack\r\n");
         },
         inside, "网络请求或重定向地址不符合要求。", "", 1},
        {"404", [](const ReceivedRequest&) { return httpResponse(404, ""); }, inside, unavailable, "", 1},
        {"429", [](const ReceivedRequest&) { return httpResponse(429, ""); }, inside,
         "操作过于频繁，请稍后重试。", "", 1},
    };
    for (const Case& c : cases) {
        LoopbackHttpServer server(packagePort,
                                  [&](Exchange& exchange) { exchange.send(c.answer(exchange.request)); });
        StoreConnection connection;
        const Fetched fetched = fetchRange(connection, packUrl, c.range);
        EXPECT_EQ(fetched.outcome, c.outcome) << c.what;
        EXPECT_TRUE(fetched.bytes == c.bytes) << c.what << ": " << fetched.bytes.size() << " bytes";
        EXPECT_EQ(server.requests().size(), c.requests) << c.what;
    }
}

TEST(StoreFetch, RangesOneAfterAnotherShareOneTcpConnection) {
    const std::string content = patternBytes(1 << 20);
    LoopbackHttpServer server(packagePort, [&](Exchange& exchange) {
        exchange.keepAlive();
        exchange.send(fileResponse(exchange.request.header("Range"), content));
    });
    StoreConnection connection;
    std::string joined;
    for (std::uint64_t index = 0; index < 8; ++index) {
        const Fetched fetched = fetchRange(connection, packUrl, {5 + index * 100000, 100000});
        EXPECT_EQ(fetched.outcome, "<no error>") << index;
        joined += fetched.bytes;
    }
    EXPECT_TRUE(joined == content.substr(5, 800000));
    EXPECT_EQ(server.requests().size(), 8u);
    EXPECT_EQ(server.connectionsAccepted(), 1u);
}

// The rest of a whole file is still on its way when the range is complete: that connection is never
// asked again, or the next answer would begin with those bytes.
TEST(StoreFetch, AfterAServerIgnoredTheRangeTheNextRangeGoesOnANewConnection) {
    const std::string content = patternBytes(1 << 20);
    LoopbackHttpServer server(
        packagePort,
        [&](Exchange& exchange) {
            exchange.keepAlive();
            exchange.send(fileResponse("", content));
        },
        Connections::concurrent);
    StoreConnection connection;
    for (int round = 0; round < 2; ++round) {
        const Fetched fetched = fetchRange(connection, packUrl, {0, 1000});
        EXPECT_EQ(fetched.outcome, "<no error>") << round;
        EXPECT_TRUE(fetched.bytes == content.substr(0, 1000)) << round;
    }
    EXPECT_EQ(server.connectionsAccepted(), 2u);
}

} // namespace
} // namespace launcher
