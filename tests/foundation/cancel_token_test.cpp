#include "foundation/cancel_token.h"
#include "foundation/error.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <winhttp.h>

#include <atomic>

namespace launcher {
namespace {

std::atomic<int> closedRequests{0};

void CALLBACK countClosing(HINTERNET, DWORD_PTR, DWORD status, LPVOID, DWORD) {
    if (status == WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING) ++closedRequests;
}

// A real WinHTTP request handle; nothing is sent, so no server is needed.
class RequestHandles : public ::testing::Test {
protected:
    void SetUp() override {
        closedRequests = 0;
        session_.reset(::WinHttpOpen(L"Gatehouse-test", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                     WINHTTP_NO_PROXY_BYPASS, 0));
        ASSERT_TRUE(session_);
        connection_.reset(::WinHttpConnect(session_.get(), L"127.0.0.1", 9, 0));
        ASSERT_TRUE(connection_);
    }

    UniqueWinHttp openRequest() {
        UniqueWinHttp request{::WinHttpOpenRequest(connection_.get(), L"GET", L"/", nullptr,
                                                   WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, 0)};
        EXPECT_TRUE(request);
        ::WinHttpSetStatusCallback(request.get(), countClosing, WINHTTP_CALLBACK_FLAG_HANDLES, 0);
        return request;
    }

    // Closing is reported asynchronously on some stacks; give it a moment.
    int closedSoon(int expected) {
        for (int i = 0; i < 25 && closedRequests.load() < expected; ++i)
            ::Sleep(10);
        ::Sleep(20);
        return closedRequests.load();
    }

    UniqueWinHttp session_;
    UniqueWinHttp connection_;
};

TEST(CancelTokenFlag, CancelledWorkEndsWithCanceledThatErrorHandlersAlsoCatch) {
    CancelToken token;
    EXPECT_NO_THROW(throwIfCanceled(token));
    cancel(token);
    cancel(token);
    EXPECT_TRUE(token.canceled());
    try {
        throwIfCanceled(token);
        FAIL() << "no exception";
    } catch (const Error& error) {
        EXPECT_STREQ(error.what(), "操作已取消");
        EXPECT_NE(dynamic_cast<const Canceled*>(&error), nullptr);
    }
}

TEST_F(RequestHandles, CancelClosesTheAttachedRequestExactlyOnce) {
    CancelToken token;
    HINTERNET request = attachRequest(token, openRequest());
    ASSERT_NE(request, nullptr);
    cancel(token);
    EXPECT_EQ(closedSoon(1), 1);
    detachRequest(token, request); // the worker's scope guard runs after the cancel
    cancel(token);
    EXPECT_EQ(closedSoon(2), 1);
}

TEST_F(RequestHandles, DetachClosesTheRequestWhenNotCancelled) {
    CancelToken token;
    HINTERNET request = attachRequest(token, openRequest());
    detachRequest(token, request);
    EXPECT_EQ(closedSoon(1), 1);
    cancel(token); // nothing left to close
    EXPECT_EQ(closedSoon(2), 1);
}

TEST_F(RequestHandles, AttachingToACancelledTokenClosesTheRequestAndThrows) {
    CancelToken token;
    cancel(token);
    try {
        attachRequest(token, openRequest());
        FAIL() << "no exception";
    } catch (const Canceled&) {
    }
    EXPECT_EQ(closedSoon(1), 1);
    cancel(token);
    EXPECT_EQ(closedSoon(2), 1);
}

// Several connections of one download: the player's cancel closes every request of every part,
// while one part stopping its siblings leaves the download itself uncancelled.
TEST_F(RequestHandles, CancelClosesEveryRequestOfTheWorkAndOfTheTokensLinkedToIt) {
    CancelToken work;
    HINTERNET own = attachRequest(work, openRequest());
    {
        LinkedCancelToken first(work);
        LinkedCancelToken second(work);
        attachRequest(first.token(), openRequest());
        HINTERNET kept = attachRequest(second.token(), openRequest());
        cancel(first.token());
        EXPECT_EQ(closedSoon(1), 1);
        EXPECT_FALSE(work.canceled());
        EXPECT_FALSE(second.token().canceled());
        cancel(work);
        EXPECT_EQ(closedSoon(3), 3);
        EXPECT_TRUE(second.token().canceled());
        detachRequest(second.token(), kept);
    }
    detachRequest(work, own);
    LinkedCancelToken late(work);
    EXPECT_TRUE(late.token().canceled());
    EXPECT_EQ(closedSoon(4), 3);
}

} // namespace
} // namespace launcher
