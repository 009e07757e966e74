#include "account/login_exchange.h"
#include "config/deployment.h"
#include "foundation/diagnostic_log.h"
#include "foundation/resources.h"
#include "foundation/text.h"
#include "support/loopback_http_server.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace launcher {
namespace {

using nlohmann::json;
using testing::Exchange;
using testing::failureOf;
using testing::httpResponse;
using testing::LoopbackHttpServer;

const std::string success =
    R"({"code":1,"data":{"userid":42,"token":"tok-123","game_id":"7","username":"玩家"},"msg":"ok"})";

LoginResult parse(const std::string& reply) {
    return parseLoginReply(json::parse(reply), L"1", 0);
}
std::string parseFailure(const std::string& reply) {
    return failureOf([&] { parse(reply); });
}

class LoginService : public ::testing::Test {
protected:
    LauncherConfig config{json::parse(loadResourceBytes(builtinConfigResourceId)), L"C:\\Games\\Launcher"};
    std::string reply = success;
    int status = 200;
    LoopbackHttpServer server{lanLoginPort,
                              [this](Exchange& exchange) { exchange.send(httpResponse(status, reply)); }};

    std::string loginFailure(std::wstring_view account, std::wstring_view password) {
        CancelToken token;
        return failureOf([&] { login(config, account, password, token); });
    }
};

TEST_F(LoginService, GetSendsThePercentEncodedQuery) {
    CancelToken token;
    const LoginResult result = login(config, L"player one", L"a&b=c?d 中", token);
    EXPECT_EQ(result.userId, L"42");
    EXPECT_EQ(result.token, L"tok-123");
    EXPECT_EQ(result.gameId, L"7");
    EXPECT_EQ(result.userName, L"玩家");
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target,
              "/api/GameLoginLog/GetUidTalvo?username=player%20one&password=a%26b%3Dc%3Fd%20%E4%B8%AD");
    EXPECT_EQ(requests[0].body, "");
}

TEST_F(LoginService, PostSendsACompactSortedJsonBody) {
    config.document["loginRequestMethod"] = "POST";
    CancelToken token;
    login(config, L" 玩家 ", L"p\"w\\d", token);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].target, "/api/GameLoginLog/GetUidTalvo");
    EXPECT_EQ(requests[0].body, R"({"password":"p\"w\\d","username":" 玩家 "})");
}

TEST_F(LoginService, AnyMethodOtherThanPostIsSentAsGet) {
    config.document["loginRequestMethod"] = "post";
    CancelToken token;
    login(config, L"a", L"b", token);
    EXPECT_EQ(server.requests().at(0).method, "GET");
}

TEST_F(LoginService, InvalidInputIsRefusedWithoutContactingTheService) {
    for (const auto& [account, password] :
         std::vector<std::pair<std::wstring, std::wstring>>{{L"", L"pw"},
                                                            {L" \t\r\n", L"pw"},
                                                            {L"a", L""},
                                                            {std::wstring(129, L'a'), L"pw"},
                                                            {L"a", std::wstring(257, L'p')}})
        EXPECT_EQ(loginFailure(account, password), "请输入有效的账号和密码。");
    EXPECT_EQ(server.requests().size(), 0u);
    EXPECT_TRUE(isValidCredentialInput(std::wstring(128, L'a'), std::wstring(256, L' ')));
}

TEST_F(LoginService, ServiceFailuresAndMalformedRepliesHaveTheirOwnMessages) {
    status = 500;
    EXPECT_EQ(loginFailure(L"a", L"b"), "登录服务暂不可用，请稍后重试。");
    status = 200;
    reply = "";
    EXPECT_EQ(loginFailure(L"a", L"b"), "登录服务返回格式异常，请稍后重试。");
    reply = "{\"code\":1,";
    EXPECT_EQ(loginFailure(L"a", L"b"), "登录服务返回格式异常，请稍后重试。");
    reply = "{\"code\":\"1\",\"data\":{\"userid\":\"\xC3\"}}";
    EXPECT_EQ(loginFailure(L"a", L"b"), "登录服务返回格式异常，请稍后重试。");
    reply = "null";
    EXPECT_EQ(loginFailure(L"a", L"b"), "登录接口缺少 code。");
    reply = R"({"code":0,"msg":"密码错误"})";
    EXPECT_EQ(loginFailure(L"a", L"b"), "登录失败：密码错误");
}

// Support reads the log; a service that echoes the account name must not put it there.
TEST_F(LoginService, LogHoldsABoundedReplyMessageWithoutTheAccount) {
    testing::TempDir dir;
    reply = R"({"code":0,"msg":"账号 Player.One 不存在。)" + std::string(300, 'x') + R"("})";
    {
        const DiagnosticLog log(dir / L"Logs");
        EXPECT_EQ(loginFailure(L" player.one ", L"pw"), "登录失败：账号认证失败，请检查账号和密码。");
    }
    const std::string text = testing::readBytes(dir / L"Logs" / L"launcher.log");
    const std::string logged = "message=\"账号 <account> 不存在。" + std::string(200 - 17, 'x') + "…\"";
    EXPECT_NE(text.find(logged), std::string::npos) << text;
    EXPECT_EQ(utf16ToUtf8(toLowerCase(multiByteToUtf16(text, codePageUtf8))).find("player.one"),
              std::string::npos);
}

TEST(LoginReply, LoggedServiceTextIsBoundedAndHidesTheAccount) {
    const std::wstring pair = L"\U0001F600"; // one character, two units
    for (const auto& [text, account, logged] :
         std::vector<std::tuple<std::wstring, std::wstring, std::wstring>>{
             {L"用户 Ann 或 ANN 或 ann", L"ann", L"用户 <account> 或 <account> 或 <account>"},
             {L"annann", L"\tann ", L"<account><account>"},
             {L"no account here", L" ", L"no account here"},
             {std::wstring(199, L'x') + pair, L"a", std::wstring(199, L'x') + L"…"},
             {std::wstring(198, L'x') + pair + L"y", L"a", std::wstring(198, L'x') + pair + L"…"},
         })
        EXPECT_EQ(loggableServiceText(text, account), logged) << testing::narrow(text);
}

TEST(LoginReply, NumbersAndStringsAreBothAccepted) {
    const LoginResult result = parse(R"({"code":"1","data":{"userid":"u-1","token":99,"game_id":3.5}})");
    EXPECT_EQ(result.userId, L"u-1");
    EXPECT_EQ(result.token, L"99");
    EXPECT_EQ(result.gameId, L"3.5");
    EXPECT_EQ(result.userName, L"");
    EXPECT_EQ(parse(R"({"code":1,"data":{"userid":" 0","token":" t ","game_id":"g"}})").token, L" t ");
}

TEST(LoginReply, FailureCodesCarryTheServiceReasonOrTheDefault) {
    const std::string fallback = "登录失败：账号认证失败，请检查账号和密码。";
    EXPECT_EQ(parseFailure(R"({"code":0,"msg":"账号已冻结"})"), "登录失败：账号已冻结");
    EXPECT_EQ(parseFailure(R"({"code":-1,"message":"维护中","msg":"ignored"})"), "登录失败：维护中");
    EXPECT_EQ(parseFailure(R"({"code":0,"message":"","msg":"not chosen"})"), fallback);
    EXPECT_EQ(parseFailure(R"({"code":0,"message":null,"msg":"not chosen"})"), fallback);
    EXPECT_EQ(parseFailure(R"({"code":"1.0"})"), fallback);
    EXPECT_EQ(parseFailure(R"({"code":1.0})"), fallback);
    EXPECT_EQ(parseFailure(R"({"code":true})"), fallback);
    EXPECT_EQ(parseFailure(R"({"code":0,"msg":"line\nbreak"})"), fallback);
    EXPECT_EQ(parseFailure(R"({"code":0,"msg":")" + std::string(201, 'x') + R"("})"), fallback);
    EXPECT_EQ(parseFailure(R"({"code":0,"msg":")" + std::string(200, 'x') + R"("})"),
              "登录失败：" + std::string(200, 'x'));
    EXPECT_EQ(parseFailure(R"({"code":0,"msg":42})"), "登录失败：42");
}

TEST(LoginReply, StructureFailures) {
    EXPECT_EQ(parseFailure("[]"), "登录接口缺少 code。");
    EXPECT_EQ(parseFailure(R"({"data":{}})"), "登录接口缺少 code。");
    EXPECT_EQ(parseFailure(R"({"code":1})"), "登录接口返回不完整。");
    EXPECT_EQ(parseFailure(R"({"code":1,"data":"x"})"), "登录接口返回不完整。");
}

TEST(LoginReply, NestedEnvelopesUseCodeZeroDownToDepthThree) {
    EXPECT_EQ(parse(R"({"code":1,"data":{"code":0,"data":{"userid":"5","token":"t","game_id":"g"}}})").userId,
              L"5");
    EXPECT_EQ(parseFailure(R"({"code":1,"data":{"code":1,"msg":"内层失败","data":{"userid":"5"}}})"),
              "登录失败：内层失败");
    const std::string inner = R"({"userid":"9","token":"t","game_id":"g"})";
    std::string depth3 = inner;
    for (int i = 0; i < 3; ++i)
        depth3 = R"({"code":0,"data":)" + depth3 + "}";
    EXPECT_EQ(parse(R"({"code":1,"data":)" + depth3 + "}").userId, L"9") << "innermost envelope at depth 3";
    EXPECT_EQ(parseFailure(R"({"code":1,"data":{"code":0,"data":)" + depth3 + "}}"), "登录接口缺少 code。");
}

TEST(LoginReply, IdentityTokenAndGameIdMustBeUsable) {
    const std::string message = "登录接口缺少有效身份、令牌或游戏编号。";
    auto reply = [](const std::string& userid, const std::string& token, const std::string& gameId) {
        return json{{"code", 1}, {"data", {{"userid", userid}, {"token", token}, {"game_id", gameId}}}}
            .dump();
    };
    EXPECT_EQ(parseFailure(reply("0", "t", "g")), message);
    EXPECT_EQ(parseFailure(reply(" \t", "t", "g")), message);
    EXPECT_EQ(parseFailure(reply(std::string(129, 'u'), "t", "g")), message);
    EXPECT_EQ(parseFailure(reply("u\x01", "t", "g")), message);
    EXPECT_EQ(parseFailure(reply("u", "", "g")), message);
    EXPECT_EQ(parseFailure(reply("u", "t\x7F", "g")), message);
    EXPECT_EQ(parseFailure(reply("u", std::string(8193, 't'), "g")), message);
    EXPECT_EQ(parseFailure(reply("u", "t", " ")), message);
    EXPECT_EQ(
        parse(reply(std::string(128, 'u'), std::string(8192, 't'), std::string(10000, 'g'))).token.size(),
        8192u);
    EXPECT_EQ(parseFailure(R"({"code":1,"data":{"userid":"u","token":"t"}})"), message);
}

} // namespace
} // namespace launcher
