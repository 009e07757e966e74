#include "config/deployment.h"
#include "net/connection_pool.h"
#include "support/loopback_http_server.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>

namespace launcher {
namespace {

using testing::Connections;
using testing::Exchange;
using testing::failureOf;
using testing::LoopbackHttpServer;
using testing::patternBytes;

std::wstring storeUrl(std::wstring_view name) {
    return L"http://" + std::wstring(packageHost) + L"/K3ClientRes/exe/TalvoPC/store/packs/" +
           std::wstring(name);
}

// Jobs that each fetch a range the server starts and then holds back: the test knows when every one
// of them is blocked in a read.
struct StalledJobs {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::size_t> started;
    std::size_t streaming = 0;

    void start(std::size_t job) {
        std::lock_guard guard(lock);
        started.push_back(job);
    }

    void fetchStalled(StoreConnection& connection, CancelToken& token, std::size_t job) {
        start(job);
        bool counted = false;
        connection.fetch(storeUrl(L"stalled.pack"), {0, 100000}, token,
                         [&](const std::uint8_t*, std::uint32_t) {
                             if (counted) return;
                             counted = true;
                             std::lock_guard guard(lock);
                             ++streaming;
                             changed.notify_all();
                         });
    }

    bool waitForStreaming(std::size_t count) {
        std::unique_lock guard(lock);
        return changed.wait_for(guard, std::chrono::seconds(20), [&] { return streaming >= count; });
    }
};

// A body that pauses after its first bytes, then comes whole: a job that was not stopped would
// succeed and take the next one. Windows wakes the blocked read as soon as its request is closed;
// Wine 8 does not, so there the read goes on when the rest arrives, and the job must still end as
// the cancellation says.
void stall(Exchange& exchange) {
    const std::string body = patternBytes(100000);
    exchange.send(testing::httpHead(206, 100000, "Content-Range: bytes 0-99999/100000\r\n") +
                  body.substr(0, 1000));
    if (!exchange.waitForStop(3000)) exchange.send(body.substr(1000));
}

TEST(ConnectionPool, SixteenJobsShareFourConnectionsInParallel) {
    constexpr std::size_t jobs = 16;
    constexpr std::uint64_t rangeBytes = 50000;
    const std::string content = patternBytes(jobs * rangeBytes);
    std::atomic<bool> gaveUp{false};
    LoopbackHttpServer server(
        packagePort,
        [&](Exchange& exchange) {
            // The first answers wait for four connections at once, which jobs run one after another
            // would never open (then the wait is given up once, not for every answer).
            if (!gaveUp && !server.waitForConnectionsAtOnce(4, 10000)) gaveUp = true;
            exchange.keepAlive();
            exchange.send(testing::fileResponse(exchange.request.header("Range"), content));
        },
        Connections::concurrent);
    std::array<std::string, jobs> fetched;
    std::array<std::atomic<int>, jobs> runs{};
    CancelToken token;
    EXPECT_EQ(
        failureOf([&] {
            runOnConnections(
                jobs, 4, token, [&](std::size_t job, StoreConnection& connection, CancelToken& jobToken) {
                    ++runs[job];
                    connection.fetch(storeUrl(L"a.pack"), {job * rangeBytes, rangeBytes}, jobToken,
                                     [&](const std::uint8_t* bytes, std::uint32_t count) {
                                         fetched[job].append(reinterpret_cast<const char*>(bytes), count);
                                     });
                });
        }),
        "<no error>");
    for (std::size_t job = 0; job < jobs; ++job) {
        EXPECT_EQ(runs[job], 1) << job;
        EXPECT_TRUE(fetched[job] == content.substr(job * rangeBytes, rangeBytes)) << job;
    }
    EXPECT_EQ(server.mostConnectionsAtOnce(), 4u);
    EXPECT_EQ(server.connectionsAccepted(), 4u) << "each thread keeps its connection";
}

TEST(ConnectionPool, AFailingJobStopsTheOthersAndItsErrorComesOut) {
    LoopbackHttpServer server(
        packagePort,
        [](Exchange& exchange) {
            if (exchange.request.target.ends_with("missing.pack"))
                exchange.send(testing::httpResponse(404, ""));
            else
                stall(exchange);
        },
        Connections::concurrent);
    StalledJobs jobs;
    CancelToken token;
    const std::string outcome = failureOf([&] {
        runOnConnections(16, 4, token,
                         [&](std::size_t job, StoreConnection& connection, CancelToken& jobToken) {
                             if (job != 0) return jobs.fetchStalled(connection, jobToken, job);
                             jobs.start(job);
                             jobs.waitForStreaming(3);
                             connection.fetch(storeUrl(L"missing.pack"), {0, 100}, jobToken,
                                              [](const std::uint8_t*, std::uint32_t) {});
                         });
    });
    EXPECT_EQ(outcome, "客户端下载服务暂不可用，请稍后重试。");
    std::sort(jobs.started.begin(), jobs.started.end());
    EXPECT_EQ(jobs.started, (std::vector<std::size_t>{0, 1, 2, 3})) << "no job starts after the failure";
    EXPECT_FALSE(token.canceled()) << "the player's token is left as it was";
}

TEST(ConnectionPool, CancellingDuringBlockedReadsEndsWithCanceled) {
    LoopbackHttpServer server(packagePort, stall, Connections::concurrent);
    StalledJobs jobs;
    CancelToken token;
    auto outcome = std::async(std::launch::async, [&] {
        return failureOf([&] {
            runOnConnections(16, 4, token,
                             [&](std::size_t job, StoreConnection& connection, CancelToken& jobToken) {
                                 jobs.fetchStalled(connection, jobToken, job);
                             });
        });
    });
    ASSERT_TRUE(jobs.waitForStreaming(4));
    cancel(token);
    EXPECT_EQ(outcome.get(), "操作已取消");
    EXPECT_EQ(jobs.started.size(), 4u) << "no job starts after the cancellation";
}

} // namespace
} // namespace launcher
