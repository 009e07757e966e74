// Reads the decrypted plaintext of the remembered-credentials file with the launcher's own strict
// reader, which never lets the secret into a general JSON library. A second, general reader judges
// the same bytes: both must accept the same documents and find the same account and password, and
// a pair written by the launcher must read back unchanged.
#include "account/credential_text.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace {

using nlohmann::json;

struct Pair {
    std::string account, password;
};

// Why the general reader refused a text: the id of its parse error.
struct RefusalReason : nlohmann::json_sax<json> {
    int id = 0;
    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t) override { return true; }
    bool number_float(number_float_t, const string_t&) override { return true; }
    bool string(string_t&) override { return true; }
    bool binary(binary_t&) override { return true; }
    bool start_object(std::size_t) override { return true; }
    bool key(string_t&) override { return true; }
    bool end_object() override { return true; }
    bool start_array(std::size_t) override { return true; }
    bool end_array() override { return true; }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& error) override {
        id = error.id;
        return false;
    }
};

// A number JSON allows but the general reader cannot hold (1e400): only the launcher's reader,
// which skips numbers unread, can judge the text.
bool holdsHugeNumber(std::string_view text) {
    RefusalReason reason;
    json::sax_parse(text, &reason);
    return reason.id == 406;
}

// What a general JSON reader makes of the text: an object whose "username" and "password" are
// text or absent, the last of a repeated member counting.
std::optional<Pair> generalReading(std::string_view text) {
    const json document = json::parse(text, nullptr, false);
    if (!document.is_object()) return std::nullopt;
    Pair pair;
    for (const auto& [key, member] :
         {std::pair{"username", &pair.account}, std::pair{"password", &pair.password}}) {
        const auto found = document.find(key);
        if (found == document.end()) continue;
        if (!found->is_string()) return std::nullopt;
        *member = found->get<std::string>();
    }
    return pair;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    launcher::SecretText account, password;
    const bool accepted = launcher::parseCredentialText(text, account, password);
    const std::optional<Pair> general = generalReading(text);
    if (accepted) {
        if (!general && holdsHugeNumber(text)) return 0;
        if (!general || general->account != account.view() || general->password != password.view())
            std::abort();
        const launcher::SecretText written =
            launcher::serializeCredentialText(account.view(), password.view());
        launcher::SecretText accountAgain, passwordAgain;
        if (!launcher::parseCredentialText(written.view(), accountAgain, passwordAgain) ||
            accountAgain.view() != account.view() || passwordAgain.view() != password.view())
            std::abort();
    } else if (general) {
        // The launcher's reader alone refuses nesting past 64 levels, a leading byte-order mark, and
        // bytes after a NUL (where the general reader stops reading).
        const bool deep = std::ranges::count(text, '[') + std::ranges::count(text, '{') > 64;
        if (!deep && !text.starts_with("\xEF\xBB\xBF") && text.find('\0') == std::string_view::npos)
            std::abort();
    } else if (!account.view().empty() || !password.view().empty()) {
        std::abort(); // a refused text leaves nothing behind
    }
    return 0;
}
