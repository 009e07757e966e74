// Transfers over real TLS against the loopback HTTPS test server, whose certificate is issued
// for localhost by a throw-away CA trusted in this prefix only.
#include "account/login_exchange.h"
#include "config/deployment.h"
#include "foundation/resources.h"
#include "net/http_transfer.h"
#include "net/sha256_hash.h"
#include "support/loopback_http_server.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace launcher {
namespace {

using nlohmann::json;
using testing::Exchange;
using testing::failureOf;
using testing::httpResponse;
using testing::LoopbackHttpServer;

class Https : public ::testing::Test {
protected:
    void SetUp() override {
        const char* port = std::getenv("LAUNCHER_TEST_HTTPS_PORT");
        if (port == nullptr) GTEST_SKIP() << "LAUNCHER_TEST_HTTPS_PORT is not set: run through CTest";
        port_ = std::atoi(port);
        origin_ = L"https://localhost:" + testing::wide(port);
    }

    std::string download(const std::wstring& path, std::string& body, bool httpsOnly = false) {
        CancelToken token;
        return failureOf([&] {
            httpTransfer({.url = origin_ + path,
                          .body = {},
                          .usePost = false,
                          .downloadMode = true,
                          .maxBytes = 1 << 24,
                          .httpsOnly = httpsOnly},
                         token,
                         [&](const std::uint8_t* bytes, std::uint32_t count) {
                             body.append(reinterpret_cast<const char*>(bytes), count);
                         },
                         {});
        });
    }

    int port_ = 0;
    std::wstring origin_;
};

std::string expectedPackage() {
    std::string bytes;
    for (int repeat = 0; repeat < 4096; ++repeat)
        for (int value = 0; value < 256; ++value)
            bytes.push_back(static_cast<char>(value));
    return bytes;
}

TEST_F(Https, LoginByGetAndPost) {
    LauncherConfig config{json::parse(loadResourceBytes(builtinConfigResourceId)), L"C:\\Games\\Launcher"};
    config.document["loginProxyUrl"] = testing::narrow(origin_) + "/api/GameLoginLog/GetUidTalvo";
    for (const char* method : {"GET", "POST"}) {
        config.document["loginRequestMethod"] = method;
        CancelToken token;
        const LoginResult result = login(config, L"玩家 1", L"secret", token);
        EXPECT_EQ(result.userId, L"https-user") << method;
        EXPECT_EQ(result.token, L"token-for-玩家 1") << method;
    }
}

TEST_F(Https, DownloadFollowsAnHttpsRedirect) {
    std::string body;
    EXPECT_EQ(download(L"/redirect-to-https.zip", body), "<no error>");
    EXPECT_EQ(body.size(), 1u << 20);
    EXPECT_EQ(sha256Hex(body.data(), body.size()), sha256Hex(expectedPackage().data(), 1u << 20));
}

TEST_F(Https, RedirectToAForbiddenPlainHttpAddressIsNeverContacted) {
    LoopbackHttpServer plain(packagePort,
                             [](Exchange& exchange) { exchange.send(httpResponse(200, "plain")); });
    std::string body;
    EXPECT_EQ(download(L"/redirect-to-http.zip", body), "网络请求或重定向地址不符合要求。");
    EXPECT_EQ(body, "");
    EXPECT_EQ(plain.requests().size(), 0u);
}

// A package without a digest is vouched for by TLS alone: then no hop may drop to plain HTTP, not
// even to the package host that a digest-checked download may use.
TEST_F(Https, HttpsOnlyDownloadRefusesARedirectToPlainHttp) {
    LoopbackHttpServer plain(packagePort,
                             [](Exchange& exchange) { exchange.send(httpResponse(200, "plain")); });
    for (const bool httpsOnly : {true, false}) {
        std::string body;
        EXPECT_EQ(download(L"/redirect-to-package-host.zip", body, httpsOnly),
                  httpsOnly ? "网络请求或重定向地址不符合要求。" : "<no error>");
        EXPECT_EQ(body, httpsOnly ? "" : "plain");
        EXPECT_EQ(plain.requests().size(), httpsOnly ? 0u : 1u);
    }
}

// No option may relax certificate checks: an untrusted issuer and a name that does not match are
// both a failed connection.
TEST_F(Https, CertificatesThatAreNotTrustedOrNotForThisHostAreRefused) {
    for (const int port : {port_ + 1, port_ + 2}) {
        origin_ = L"https://localhost:" + std::to_wstring(port);
        std::string body;
        EXPECT_EQ(download(L"/K3ClientRes/exe/TalvoPC/https.zip", body), "网络连接失败，请检查网络后重试。")
            << port;
        EXPECT_EQ(body.size(), 0u) << port;
    }
}

} // namespace
} // namespace launcher
