// The signed manifest as one file: what the server, the publisher's tool and the launcher's kept
// copy all hold.
#include "support/test_support.h"
#include "update/signed_manifest.h"

#include <gtest/gtest.h>

namespace launcher {
namespace {

const std::string signature = std::string(64, 'a') + std::string(64, 'F');
const std::string manifest = "{\r\n  \"sequence\": 7\n}\n"; // as signed, line ends and all

TEST(ManifestEnvelope, CarriesTheManifestsExactBytesBehindItsSignatureLine) {
    const std::string envelope = makeManifestEnvelope({manifest, " " + signature + "\r\n"});
    EXPECT_EQ(envelope, signature + "\n" + manifest);
    const SignedManifest split = splitManifestEnvelope(envelope);
    EXPECT_EQ(split.bytes, manifest);
    EXPECT_EQ(split.signature, signature);
    EXPECT_FALSE(isBareManifest(envelope));
    EXPECT_TRUE(isBareManifest(" \r\n" + manifest));
}

TEST(ManifestEnvelope, DamagedOneIsRefusedWithWhatIsWrong) {
    const std::string notSigned = "签名清单已损坏：第一行不是 128 位十六进制签名。";
    std::string notHex = signature; // changed in place: GCC 12 warns wrongly about "g" + text
    notHex[0] = 'g';
    struct Case {
        const char* what;
        std::string envelope;
        std::string refusal;
    };
    const Case cases[] = {
        {"empty", "", notSigned},
        {"a bare manifest", manifest, notSigned},
        {"no line end", signature, notSigned},
        {"a digit short", signature.substr(1) + "\n" + manifest, notSigned},
        {"not a digit", notHex + "\n" + manifest, notSigned},
        {"line ended by CR LF", signature + "\r\n" + manifest, notSigned},
        {"nothing signed", signature + "\n", "签名清单已损坏：签名之后没有更新清单。"},
        {"manifest over 64 KiB", signature + "\n" + std::string(maxUpdateManifestBytes + 1, ' '),
         "签名清单已损坏：更新清单超过 65536 字节。"},
    };
    for (const Case& damaged : cases)
        EXPECT_EQ(testing::failureOf([&] { splitManifestEnvelope(damaged.envelope); }), damaged.refusal)
            << damaged.what;
}

} // namespace
} // namespace launcher
