#include "account/login_exchange.h"

#include "config/url_parts.h"
#include "foundation/diagnostic_log.h"
#include "foundation/error.h"
#include "foundation/text.h"
#include "net/http_transfer.h"

namespace launcher {
namespace {

using nlohmann::json;

constexpr std::uint64_t maxReplyBytes = 65536;

// The request `login` sends for an account and password: the URL (with the percent-encoded
// query for GET) and the body (compact JSON for POST).
struct LoginRequest {
    std::wstring url;
    std::string body;
    bool usePost = false;
};

// Throws Error("文本编码无效。") for text that is not valid UTF-16.
LoginRequest buildLoginRequest(std::wstring_view loginProxyUrl, std::string_view method,
                               std::wstring_view account, std::wstring_view password) {
    LoginRequest request;
    request.usePost = method == "POST";
    if (request.usePost) {
        request.url = loginProxyUrl;
        const json body = {{"username", utf16ToUtf8(account)}, {"password", utf16ToUtf8(password)}};
        request.body = body.dump(-1, ' ', false, json::error_handler_t::strict);
    } else {
        request.url = std::wstring(loginProxyUrl) + L"?username=" +
                      multiByteToUtf16(percentEncode(account), codePageUtf8) + L"&password=" +
                      multiByteToUtf16(percentEncode(password), codePageUtf8);
    }
    return request;
}

} // namespace

bool isValidCredentialInput(std::wstring_view account, std::wstring_view password) {
    return !trimWhitespace(account).empty() && account.size() <= maxAccountLength && !password.empty() &&
           password.size() <= maxPasswordLength;
}

LoginResult login(const LauncherConfig& config, std::wstring_view account, std::wstring_view password,
                  CancelToken& token) {
    if (!isValidCredentialInput(account, password)) throw Error("请输入有效的账号和密码。");
    const LoginRequest request =
        buildLoginRequest(loginProxyUrl(config),
                          config.document.value("loginRequestMethod", std::string("GET")), account, password);

    // The method and the service's host only: the address's query and the body carry the account.
    logEvent("login.start",
             {{"method", request.usePost ? "POST" : "GET"}, {"host", crackUrl(loginProxyUrl(config)).host}});
    std::string reply;
    httpTransfer({.url = request.url,
                  .body = request.body,
                  .usePost = request.usePost,
                  .downloadMode = false,
                  .maxBytes = maxReplyBytes},
                 token,
                 [&reply](const std::uint8_t* bytes, std::uint32_t count) {
                     reply.append(reinterpret_cast<const char*>(bytes), count);
                 },
                 {});

    json parsed;
    try {
        parsed = json::parse(reply);
    } catch (const json::exception&) {
        logEvent("login.reply", {{"json", false}, {"bytes", reply.size()}});
        throw Error("登录服务返回格式异常，请稍后重试。");
    }
    // The service's own verdict; the token in its data is never written, nor the account it may echo.
    logEvent("login.reply",
             {{"code", memberText(parsed, "code")},
              {"message", loggableServiceText(
                              memberText(parsed, parsed.contains("message") ? "message" : "msg"), account)}});
    return parseLoginReply(parsed, L"1", 0);
}

} // namespace launcher
