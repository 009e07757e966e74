// The update channel a launcher build carries: this build's form, with one or two keys, and the
// one-key form of earlier builds, which the launcher and the publisher's tool still read.
#include "config/build_identity.h"

#include <gtest/gtest.h>

namespace launcher {
namespace {

TEST(BuildChannel, DocumentOfThisOrAnEarlierBuildReadsWithItsKeys) {
    const std::string url = "https://download.example.com/update/manifest.signed";
    struct Case {
        const char* what;
        std::string document;
        std::optional<std::vector<std::string>> keys; // nothing: not a channel document
    };
    const Case cases[] = {
        {"two keys", R"({"manifestUrl": ")" + url + R"(", "publicKeys": ["ab", "cd"]})",
         std::vector<std::string>{"ab", "cd"}},
        {"updates off", R"({"manifestUrl": "", "publicKeys": []})", std::vector<std::string>{}},
        {"earlier build", R"({"manifestUrl": ")" + url + R"(", "publicKey": "ab"})",
         std::vector<std::string>{"ab"}},
        {"earlier build, updates off", R"({"manifestUrl": "", "publicKey": ""})", std::vector<std::string>{}},
        {"a key that is not text", R"({"manifestUrl": "", "publicKeys": ["ab", 7]})", std::nullopt},
        {"no key member", R"({"manifestUrl": ")" + url + R"("})", std::nullopt},
        {"no address", R"({"publicKeys": ["ab"]})", std::nullopt},
        {"not JSON", "manifestUrl=", std::nullopt},
    };
    for (const Case& row : cases) {
        const std::optional<BuildChannel> channel = parseBuildChannel(row.document);
        ASSERT_EQ(channel.has_value(), row.keys.has_value()) << row.what;
        if (channel) {
            EXPECT_EQ(channel->publicKeys, *row.keys) << row.what;
        }
    }
}

} // namespace
} // namespace launcher
