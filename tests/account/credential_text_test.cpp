// The plaintext inside the remembered-credentials file: written exactly as earlier releases wrote
// it, and read exactly as they read it, so no player's remembered account is lost or misread.
#include "account/credential_text.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <optional>
#include <utility>

namespace launcher {
namespace {

using Pair = std::pair<std::string, std::string>;

// How the JSON library reads a plaintext: what earlier releases accepted.
std::optional<Pair> libraryReading(std::string_view text) {
    try {
        const nlohmann::json document = nlohmann::json::parse(text);
        if (!document.is_object()) return std::nullopt;
        return Pair{document.value("username", std::string()), document.value("password", std::string())};
    } catch (...) {
        return std::nullopt;
    }
}

std::optional<Pair> ourReading(std::string_view text) {
    SecretText account, password;
    if (!parseCredentialText(text, account, password)) return std::nullopt;
    return Pair{std::string(account.view()), std::string(password.view())};
}

TEST(CredentialText, WrittenByteForByteAsTheJsonLibraryWritesItAndReadBack) {
    const Pair pairs[] = {
        {"player", "secret"},
        {"  玩家 one ", "   "},
        {"quote\"back\\slash/", "tab\tline\nret\rff\fbs\b"},
        {std::string("ctl\x01\x1f\x7f", 6), "emoji 😀 中文"},
    };
    for (const auto& [account, password] : pairs) {
        const std::string expected = nlohmann::json{{"username", account}, {"password", password}}.dump();
        const SecretText text = serializeCredentialText(account, password);
        EXPECT_EQ(text.view(), expected);
        EXPECT_EQ(ourReading(text.view()), (Pair{account, password})) << expected;
    }
}

TEST(CredentialText, ReadsEveryPlaintextAsTheJsonLibraryDoes) {
    const struct {
        std::string_view text;
        bool usable;
    } cases[] = {
        {R"({"password":"pw","username":"me"})", true},
        {" {\n\t\"username\" : \"a\\u0062\" , "
         "\"password\":\"x\\ud83d\\ude00\\/\",\r\"extra\":[1,-2.5e+3,{\"k\":"
         "null},true,false,[]]} ",
         true},
        {R"({"username":"first","username":"last","password":"pw"})", true},
        {R"({"username":"only"})", true},
        {R"({})", true},
        {R"([])", false},
        {R"("text")", false},
        {R"({"username":"a","password":1})", false},
        {R"({"username":null,"password":"b"})", false},
        {R"({"username":"a","password":"b"} x)", false},
        {R"({"username":"a","password":"b",})", false},
        {R"({"username":"a","password":"b")", false},
        {R"({"username":"a\ud800","password":"b"})", false},
        {R"({"username":"a\udc00","password":"b"})", false},
        {R"({"username":"a\x","password":"b"})", false},
        {"{\"username\":\"\xC0\xAF\",\"password\":\"b\"}", false},
        {"{\"username\":\"\xED\xA0\x80\",\"password\":\"b\"}", false},
        {"{\"username\":\"a\tb\",\"password\":\"b\"}", false},
        {R"({"username":"a","password":"b","n":01})", false},
        {R"({"username":"a","password":"b","n":1.})", false},
        {R"({"username":"a","password":"b","n":tru})", false},
        {R"({'username':'a'})", false},
        {"", false},
    };
    for (const auto& [text, usable] : cases) {
        EXPECT_EQ(ourReading(text).has_value(), usable) << text;
        EXPECT_EQ(ourReading(text), libraryReading(text)) << text;
    }
}

} // namespace
} // namespace launcher
