#include "account/login_reply.h"

#include "foundation/error.h"
#include "foundation/text.h"

namespace launcher {
namespace {

using nlohmann::json;

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

std::wstring loggableServiceText(std::wstring_view text, std::wstring_view account) {
    constexpr std::size_t maxLoggedLength = 200;
    std::wstring result(text);
    if (const std::wstring name = toLowerCase(trimWhitespace(account)); !name.empty()) {
        constexpr std::wstring_view placeholder = L"<account>";
        std::wstring lower = toLowerCase(result);
        for (std::size_t at = lower.find(name); at != std::wstring::npos;
             at = lower.find(name, at + placeholder.size())) {
            result.replace(at, name.size(), placeholder);
            lower.replace(at, name.size(), placeholder);
        }
    }
    if (result.size() > maxLoggedLength) {
        std::size_t cut = maxLoggedLength;
        if (result[cut - 1] >= 0xD800 && result[cut - 1] <= 0xDBFF) --cut; // never half a character
        result.resize(cut);
        result += L"…";
    }
    return result;
}

bool hasUsableIdentity(const LoginResult& result) {
    const auto usable = [](const std::wstring& text, std::size_t maxLength) {
        return !isBlank(text) && text.size() <= maxLength && !hasControlCharacter(text);
    };
    return usable(result.userId, maxUserIdLength) && result.userId != L"0" &&
           usable(result.token, maxTokenLength);
}

std::wstring memberText(const json& value, const char* key) {
    if (!value.is_object()) return {};
    const auto member = value.find(key);
    if (member == value.end()) return {};
    if (member->is_string()) return multiByteToUtf16(member->get_ref<const std::string&>(), codePageUtf8);
    if (member->is_number()) return multiByteToUtf16(member->dump(), codePageUtf8);
    return {};
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

} // namespace launcher
