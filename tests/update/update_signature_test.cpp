#include "foundation/error.h"
#include "update/update_signature.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

namespace launcher {
namespace {

TEST(UpdateSignature, OnlyTheKeysOwnSignatureOfTheExactMessageVerifies) {
    const UpdateSigningKey key = generateUpdateSigningKey();
    const UpdateSigningKey other = generateUpdateSigningKey();
    const std::string message = R"({"sequence": 7})";
    const std::string signature = signUpdateMessage(key, message);
    ASSERT_EQ(signature.size(), 128u);
    const auto upper = [](std::string text) {
        std::ranges::transform(text, text.begin(), [](unsigned char c) { return std::toupper(c); });
        return text;
    };
    // Texts changed in one place; GCC 12 warns wrongly about "g" + text.
    const auto changed = [](std::string text, std::size_t at, char digit) {
        text[at] = digit;
        return text;
    };

    struct Case {
        const char* what;
        std::string publicKey, message, signature;
        bool valid;
    };
    const Case cases[] = {
        {"own signature", key.publicKeyHex, message, signature, true},
        {"upper case, as a file line", upper(key.publicKeyHex), message,
         std::string(" \t").append(upper(signature)).append("\r\n"), true},
        {"message byte changed", key.publicKeyHex, R"({"sequence": 8})", signature, false},
        {"signature digit changed", key.publicKeyHex, message,
         changed(signature, 40, signature[40] == '0' ? '1' : '0'), false},
        {"another key", other.publicKeyHex, message, signature, false},
        {"short signature", key.publicKeyHex, message, signature.substr(2), false},
        {"signature not hexadecimal", key.publicKeyHex, message, changed(signature, 0, 'g'), false},
        {"short key", key.publicKeyHex.substr(2), message, signature, false},
        {"key not hexadecimal", changed(key.publicKeyHex, 0, 'x'), message, signature, false},
        {"nothing", "", message, "", false},
    };
    for (const Case& check : cases)
        EXPECT_EQ(isValidUpdateSignature(check.publicKey, check.message, check.signature), check.valid)
            << check.what;

    // A key file whose halves belong to different keys must not sign what no launcher accepts.
    try {
        signUpdateMessage({.publicKeyHex = other.publicKeyHex, .privateKeyHex = key.privateKeyHex}, message);
        ADD_FAILURE() << "mixed key signed";
    } catch (const Error& error) {
        EXPECT_STREQ(error.what(), "更新签名密钥无效。");
    }
}

} // namespace
} // namespace launcher
