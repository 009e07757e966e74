// gatehouse-pack renew: the published manifest signed again under a new expiry and the next number,
// without the package; and only a manifest the key signed.
#include "foundation/utc_clock.h"
#include "pack/manifest_renewal.h"
#include "pack/update_publish.h"
#include "support/test_support.h"
#include "tool_refusal_text.h"
#include "update/signed_manifest.h"
#include "update/update_signature.h"

#include <gtest/gtest.h>

#include <functional>

namespace launcher {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

// A published manifest, numbered 7 and offering a launcher build, and a request to renew it.
struct Renewal {
    testing::TempDir dir;
    UpdateSigningKey key = createUpdateKeyFile(dir / L"update-key.json");
    RenewRequest request{.keyFile = dir / L"update-key.json", .manifest = dir / L"manifest.signed"};
    const std::string document = serializeUpdateManifest(
        {.sequence = 7,
         .expires = currentUtcSeconds() + 86400,
         .clientPackage = {{"downloadUrl", "https://download.example.com/2026-12-01/TalvoPC.zip"},
                           {"executablePath", "TalvoPC/talvo-曜石纪元.exe"},
                           {"sha256", std::string(64, 'a')},
                           {"version", "2026-12-01.1"}},
         .launcher = LauncherRelease{"1.3.0", "https://download.example.com/Gatehouse-1.3.0.exe",
                                     std::string(64, 'b')}});

    void place(const std::string& bytes, const UpdateSigningKey& signer) {
        testing::writeBytes(request.manifest,
                            makeManifestEnvelope({bytes, signUpdateMessage(signer, bytes)}));
    }
};

// Everything but the number and the expiry.
json withoutNumberAndExpiry(std::string_view document) {
    json members = json::parse(document);
    members.erase("sequence");
    members.erase("expires");
    return members;
}

TEST(RenewingManifest, SignsTheSameManifestAgainUnderTheNextNumberAndANewExpiry) {
    Renewal renewal;
    renewal.place(renewal.document, renewal.key);
    renewal.request.expiresDays = 45;
    const std::int64_t before = currentUtcSeconds();
    const std::string outcome = testing::failureOf([&] { renewManifest(renewal.request); });
    const std::int64_t after = currentUtcSeconds();
    ASSERT_EQ(outcome, "<no error>");

    const SignedManifest renewed = splitManifestEnvelope(testing::readBytes(renewal.request.manifest));
    EXPECT_TRUE(isSignedBy(renewed, renewal.key.publicKeyHex));
    const UpdateManifest manifest = parseUpdateManifest(renewed.bytes);
    EXPECT_EQ(manifest.sequence, 8u);
    EXPECT_GE(manifest.expires, before + 45 * 86400);
    EXPECT_LE(manifest.expires, after + 45 * 86400);
    EXPECT_EQ(withoutNumberAndExpiry(renewed.bytes), withoutNumberAndExpiry(renewal.document));
}

TEST(RenewingManifest, RefusesWhatThisKeyDidNotSignAndLeavesItAsItWas) {
    const UpdateSigningKey stranger = generateUpdateSigningKey();
    struct Case {
        const char* what;
        std::function<void(Renewal&)> place;
        std::optional<std::uint64_t> sequence;
        const char* actual;
    };
    const Case cases[] = {
        {"none there", [](Renewal&) {}, std::nullopt, "no manifest"},
        {"signed by another key", [&](Renewal& renewal) { renewal.place(renewal.document, stranger); },
         std::nullopt, "a manifest that does not verify"},
        {"signed by another key, a number given",
         [&](Renewal& renewal) { renewal.place(renewal.document, stranger); }, 20,
         "a manifest that does not verify"},
        {"edited after signing",
         [](Renewal& renewal) {
             renewal.place(renewal.document, renewal.key);
             std::string envelope = testing::readBytes(renewal.request.manifest);
             envelope.replace(envelope.find("1.3.0"), 5, "9.9.9");
             testing::writeBytes(renewal.request.manifest, envelope);
         },
         std::nullopt, "a manifest that does not verify"},
    };
    for (const Case& refused : cases) {
        SCOPED_TRACE(refused.what);
        Renewal renewal;
        refused.place(renewal);
        renewal.request.sequence = refused.sequence;
        const bool placed = fs::exists(renewal.request.manifest);
        const std::string before = placed ? testing::readBytes(renewal.request.manifest) : "";
        EXPECT_EQ(testing::refusalOf([&] { renewManifest(renewal.request); }),
                  "manifest-unverified | " + testing::narrow(renewal.request.manifest.native()) +
                      " | a signed manifest file that verifies with the key | " + refused.actual);
        EXPECT_EQ(fs::exists(renewal.request.manifest), placed);
        if (placed) {
            EXPECT_EQ(testing::readBytes(renewal.request.manifest), before);
        }
    }
}

} // namespace
} // namespace launcher
