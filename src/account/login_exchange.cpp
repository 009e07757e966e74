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
constexpr std::size_t maxReasonLength = 200;
constexpr std::size_t maxUserIdLength = 128;
constexpr std::size_t maxTokenLength = 8192;
constexpr int maxEnvelopeDepth = 3;

bool isBlank(std::wstring_view text) {
    return trimWhitespace(text).empty();
}

[[noreturn]] void throwLoginFailure(const json& envelope) {
    // "message" wins whenever the key is there at all, even when it is empty.
    const char* key = envelope.contains("message") ? "message" : "msg";
    std::wstring reason = memberText(envelope, key);
    if (reason.empty() || reason.size() > maxReasonLength || hasControlCharacter(reason))
        reason = L"账号认证失败，请检查账号和密码。";
    throw Error(utf16ToUtf8(L"登录失败：" + reason));
}

} // namespace

bool hasUsableIdentity(const LoginResult& result) {
    const auto usable = [](const std::wstring& text, std::size_t maxLength) {
        return !isBlank(text) && text.size() <= maxLength && !hasControlCharacter(text);
    };
    return usable(result.userId, maxUserIdLength) && result.userId != L"0" &&
           usable(result.token, maxTokenLength);
}

bool isValidCredentialInput(std::wstring_view account, std::wstring_view password) {
    return !isBlank(account) && account.size() <= maxAccountLength && !password.empty() &&
           password.size() <= maxPasswordLength;
}

std::wstring memberText(const json& value, const char* key) {
    if (!value.is_object()) return {};
    const auto member = value.find(key);
    if (member == value.end()) return {};
    if (member->is_string()) return multiByteToUtf16(member->get_ref<const std::string&>(), codePageUtf8);
    if (member->is_number()) return multiByteToUtf16(member->dump(), codePageUtf8);
    return {};
}

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

LoginResult parseLoginReply(const json& value, std::wstring_view expected, int depth) {
    if (depth > maxEnvelopeDepth || !value.is_object() || !value.contains("code"))
        throw Error("登录接口缺少 code。");
    if (memberText(value, "code") != expected) throwLoginFailure(value);

    const auto data = value.find("data");
    if (data == value.end() || !data->is_object()) throw Error("登录接口返回不完整。");
    if (!data->contains("userid") && data->contains("code") && data->contains("data"))
        return parseLoginReply(*data, L"0", depth + 1);

    LoginResult result{memberText(*data, "userid"), memberText(*data, "token"), memberText(*data, "game_id"),
                       memberText(*data, "username")};
    if (!hasUsableIdentity(result) || isBlank(result.gameId))
        throw Error("登录接口缺少有效身份、令牌或游戏编号。");
    return result;
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
    // The service's own verdict; the token in its data is never written.
    logEvent("login.reply",
             {{"code", memberText(parsed, "code")},
              {"message", memberText(parsed, parsed.contains("message") ? "message" : "msg")}});
    return parseLoginReply(parsed, L"1", 0);
}

} // namespace launcher
