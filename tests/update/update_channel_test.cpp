// The update check against a real loopback server: which signed manifest a launcher follows, what
// it keeps for runs without network, and what no torn save, refusal or slow server can undo.
#include "config/deployment.h"
#include "foundation/resources.h"
#include "foundation/text.h"
#include "support/loopback_http_server.h"
#include "support/test_support.h"
#include "update/accepted_sequence.h"
#include "update/signed_manifest.h"
#include "update/update_channel.h"
#include "update/update_signature.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <tuple>
#include <utility>

namespace launcher {
namespace {

using nlohmann::json;
using testing::Exchange;
using testing::LoopbackHttpServer;
namespace fs = std::filesystem;

std::string packageUrl(const std::string& path) {
    return "http://" + std::string(packageHostUtf8) + "/K3ClientRes/exe/TalvoPC/" + path;
}

class UpdateCheck : public ::testing::Test {
protected:
    static const UpdateSigningKey& key() {
        static const UpdateSigningKey made = generateUpdateSigningKey();
        return made;
    }
    // The key an operator moves to.
    static const UpdateSigningKey& nextKey() {
        static const UpdateSigningKey made = generateUpdateSigningKey();
        return made;
    }

    testing::TempDir dir;
    const LauncherConfig config{json::parse(loadResourceBytes(builtinConfigResourceId)), dir / L"Launcher"};
    UpdateChannel channel{multiByteToUtf16(packageUrl("update/manifest.signed"), codePageUtf8),
                          {key().publicKeyHex},
                          dir / L"Updates",
                          // A key of this test's own, so no other run's sequence counts here.
                          L"Software\\K3Gatehouse\\Tests\\" + dir.path().filename().native()};
    std::string manifest, signature; // what the server answers: both in one file, unless `twoFiles`
    bool twoFiles = false;           // the manifest bare, its signature at "<address>.sig"
    std::function<void(Exchange&)> serve = [this](Exchange& exchange) {
        const bool sig = exchange.request.target.ends_with(".sig");
        const std::string body = twoFiles ? (sig ? signature : manifest)
                                 : sig    ? ""
                                          : makeManifestEnvelope({manifest, signature});
        exchange.send(testing::httpResponse(body.empty() ? 404 : 200, body));
    };
    std::optional<LoopbackHttpServer> server{std::in_place, packagePort,
                                             [this](Exchange& exchange) { serve(exchange); }};

    void TearDown() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, channel.sequenceRegistryKey.c_str()); }

    // Serves a manifest numbered `sequence` naming client version `version`.
    void publish(std::uint64_t sequence, const std::string& version,
                 std::int64_t expires = currentUtcSeconds() + 86400, const UpdateSigningKey& signer = key()) {
        const UpdateManifest made{.sequence = sequence,
                                  .expires = expires,
                                  .clientPackage = {{"downloadUrl", packageUrl(version + "/TalvoPC.zip")},
                                                    {"sha256", std::string(64, 'a')},
                                                    {"version", version}}};
        manifest = serializeUpdateManifest(made);
        signature = signUpdateMessage(signer, manifest);
    }
    fs::path kept(const UpdateSigningKey& signer = key()) {
        return storedManifestPathForTesting(channel, signer.publicKeyHex);
    }

    // The client version this run follows: the manifest's, or "" for the configured package.
    std::string followed() {
        CancelToken token;
        const std::optional<AcceptedUpdate> update =
            refreshUpdateManifest(channel, config, currentUtcSeconds(), token);
        return update ? update->config.document["clientPackage"]["version"].get<std::string>() : "";
    }
    std::uint64_t recordedSequence() {
        return readAcceptedSequence(channel.sequenceRegistryKey,
                                    acceptedSequenceNameForTesting(key().publicKeyHex));
    }
};

// A refused manifest never becomes the baseline: what was kept stays byte for byte, and it is what
// a run without the server follows.
TEST_F(UpdateCheck, RefusalsLeaveTheKeptManifestAsItWasForRunsWithoutTheServer) {
    publish(5, "5");
    ASSERT_EQ(followed(), "5");
    const std::string keptBytes = testing::readBytes(kept());
    const std::vector<std::pair<const char*, std::function<void()>>> refusals = {
        {"bad signature",
         [&] {
             publish(6, "6");
             signature[0] = signature[0] == '0' ? '1' : '0';
         }},
        {"expired", [&] { publish(6, "6", currentUtcSeconds() - 60); }},
        // As a cache that kept one half of an earlier version would pair them.
        {"signature of another version",
         [&] {
             publish(6, "6");
             const std::string newer = signature;
             publish(7, "7");
             signature = newer;
         }},
        {"lower sequence", [&] { publish(4, "4"); }},
        {"same sequence, other content", [&] { publish(5, "5b"); }},
    };
    for (const auto& [what, serveRefused] : refusals) {
        serveRefused();
        EXPECT_EQ(followed(), "5") << what;
        EXPECT_EQ(testing::readBytes(kept()), keptBytes) << what;
        EXPECT_EQ(recordedSequence(), 5u) << what;
    }
    server.reset();
    EXPECT_EQ(followed(), "5") << "no server: the kept manifest stands";
}

// The highest number accepted survives whatever happens to the kept file, and where no file can
// be kept at all.
TEST_F(UpdateCheck, OlderManifestStaysRefusedAfterATornOrLostSave) {
    const char* fixture = std::getenv("LAUNCHER_TEST_LINK_FIXTURE");
    const std::vector<std::pair<const char*, std::function<void()>>> damages = {
        {"kept file torn",
         [&] {
             const std::string bytes = testing::readBytes(kept());
             testing::writeBytes(kept(), bytes.substr(0, bytes.size() / 2));
         }},
        {"kept file deleted", [&] { fs::remove(kept()); }},
        {"signature line replaced",
         [&] {
             const std::string bytes = testing::readBytes(kept());
             testing::writeBytes(kept(), std::string(128, '0') + bytes.substr(bytes.find('\n')));
         }},
    };
    for (const auto& [what, damage] : damages) {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, channel.sequenceRegistryKey.c_str());
        fs::remove_all(channel.stateDirectory);
        publish(16, "16");
        ASSERT_EQ(followed(), "16") << what;
        damage();
        publish(3, "3");
        EXPECT_EQ(followed(), "") << what;
    }

    // A state folder behind a directory link keeps nothing there, yet the number is kept.
    if (fixture == nullptr) GTEST_SKIP() << "LAUNCHER_TEST_LINK_FIXTURE is not set: run through CTest";
    channel.stateDirectory = fs::path(fixture).lexically_normal() / L"linked-parent" / dir.path().filename();
    publish(16, "16");
    ASSERT_EQ(followed(), "16");
    EXPECT_FALSE(fs::exists(fs::path(fixture).lexically_normal() / L"outside" / dir.path().filename()));
    publish(3, "3");
    EXPECT_EQ(followed(), "");
}

// Earlier launchers kept the manifest and its signature as two files beside each other.
TEST_F(UpdateCheck, ManifestKeptByAnEarlierLauncherStillCountsUntilReplaced) {
    publish(9, "9");
    fs::path legacy = kept();
    legacy.replace_extension(L".json");
    fs::create_directories(legacy.parent_path());
    testing::writeBytes(legacy, manifest);
    testing::writeBytes(legacy.native() + L".sig", signature);
    publish(8, "8");
    EXPECT_EQ(followed(), "9");
    publish(10, "10");
    EXPECT_EQ(followed(), "10");
    EXPECT_EQ(testing::listNames(channel.stateDirectory), std::vector<std::wstring>{kept().filename()});
}

// A server still in the two-file form of earlier deployments, the manifest bare and its signature at
// "<address>.sig", is followed as the signed file is.
TEST_F(UpdateCheck, TwoFileFormIsFollowedAsTheSignedFileIs) {
    publish(1, "1");
    EXPECT_EQ(followed(), "1") << "signed file";
    twoFiles = true;
    publish(2, "2");
    EXPECT_EQ(followed(), "2") << "two-file form";
}

// While the operator moves to a new key, a build trusting both follows either. The one number they
// share keeps the old key's manifests out once the new key's took over, and the build after, trusting
// the new key alone, goes on from where that one was, with or without the server.
TEST_F(UpdateCheck, KeyRotationNeitherLetsTheOldKeysManifestsBackNorStrandsPlayers) {
    const auto restartServer = [&] {
        server.emplace(packagePort, [this](Exchange& exchange) { serve(exchange); });
    };
    publish(5, "5");
    ASSERT_EQ(followed(), "5") << "the build players have trusts the old key";
    const std::pair oldKeysLast{manifest, signature};

    channel.publicKeys = {key().publicKeyHex, nextKey().publicKeyHex};
    server.reset();
    EXPECT_EQ(followed(), "5") << "trusting both, without the server: what the old build kept";
    restartServer();
    publish(6, "6", currentUtcSeconds() + 86400, nextKey());
    EXPECT_EQ(followed(), "6") << "trusting both: the new key's manifest";
    std::tie(manifest, signature) = oldKeysLast;
    EXPECT_EQ(followed(), "6") << "trusting both: the old key's last manifest presented again";

    channel.publicKeys = {nextKey().publicKeyHex};
    server.reset();
    EXPECT_EQ(followed(), "6")
        << "trusting the new key alone, without the server: what the build before kept";
    channel.publicKeys = {key().publicKeyHex};
    restartServer();
    EXPECT_EQ(followed(), "") << "an old build, put back: the old key's last manifest is still behind";
}

// Every hop answers within its own time-outs, but the check as a whole holds up the player's start.
TEST_F(UpdateCheck, WholeCheckEndsAtItsLimitHoweverManyHopsItTakes) {
    publish(1, "1");
    const auto direct = serve;
    serve = [&](Exchange& exchange) {
        const std::string& target = exchange.request.target;
        const std::size_t hop = target.find("/hop");
        if (hop == std::string::npos) {
            exchange.waitForStop(500);
            return exchange.send(testing::httpHead(302, 0, "Location: " + target + "/hop1\r\n"));
        }
        if (const int number = target[hop + 4] - '0'; number < 3) {
            exchange.waitForStop(500);
            return exchange.send(testing::httpHead(
                302, 0, "Location: " + target.substr(0, hop) + "/hop" + std::to_string(number + 1) + "\r\n"));
        }
        exchange.send(testing::httpResponse(200, makeManifestEnvelope({manifest, signature})));
    };
    channel.checkLimit = std::chrono::milliseconds(1200);
    EXPECT_EQ(followed(), "") << "three waits of half a second on the way pass a limit of 1.2 s";
    channel.checkLimit = UpdateChannel().checkLimit;
    EXPECT_EQ(followed(), "1") << "within the usual limit the same hops lead to the manifest";
}

} // namespace
} // namespace launcher
