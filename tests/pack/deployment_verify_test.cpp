// gatehouse-pack verify against a deployment hosted on the real loopback server: what passes, and
// which check names each way a hosted deployment breaks before players meet it.
#include "config/deployment.h"
#include "config/launcher_config.h"
#include "foundation/utc_clock.h"
#include "net/sha256_hash.h"
#include "pack/deployment_verify.h"
#include "support/loopback_http_server.h"
#include "support/test_support.h"
#include "update/chunk_index.h"
#include "update/update_manifest.h"
#include "update/update_signature.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace launcher {
namespace {

using testing::Exchange;
using testing::httpResponse;
namespace fs = std::filesystem;

const std::string updatePath = "/K3ClientRes/exe/TalvoPC/update/";
const std::string packageName = "TalvoPC-7.zip";
const std::string fresh = "Cache-Control: no-cache\r\n";
const std::string immutable = "Cache-Control: public, max-age=31536000, immutable\r\n";

std::string updateUrl(const std::string& name) {
    return "http://" + std::string(packageHostUtf8) + updatePath + name;
}

std::string lowerHex(const std::string& bytes) {
    std::string digest = sha256Hex(bytes.data(), bytes.size());
    for (char& letter : digest)
        letter = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
    return digest;
}

// A deployment as publish and the upload leave it, on the package host's plain-HTTP port: the
// manifest and its signature, the client package and a launcher build, with the caching the README
// asks for.
class HostedDeployment : public ::testing::Test {
protected:
    static const UpdateSigningKey& key() {
        static const UpdateSigningKey made = generateUpdateSigningKey();
        return made;
    }

    testing::TempDir dir;
    const std::string package = testing::patternBytes(300000);
    const std::string launcherBuild = "MZ launcher " + testing::patternBytes(70000);
    UpdateManifest manifest;
    UpdateSigningKey signer;
    bool oneSignedFile = false;
    VerifyRequest request;
    std::map<std::string, std::string> answers; // raw responses by request path; others get 404
    std::map<std::string, std::string> files;   // contents by request path, answered by range
    testing::LoopbackHttpServer server{
        packagePort, [this](Exchange& exchange) {
            if (const auto file = files.find(exchange.request.target); file != files.end()) {
                exchange.keepAlive();
                exchange.send(testing::fileResponse(exchange.request.header("Range"), file->second));
                return;
            }
            const auto answer = answers.find(exchange.request.target);
            exchange.send(answer != answers.end() ? answer->second : httpResponse(404, "not found"));
        }};

    void SetUp() override { publish(); }

    // What publish signs: client version 7 and launcher 1.3.0, good for 30 days.
    void publish() {
        manifest = {.sequence = 12,
                    .expires = currentUtcSeconds() + 30 * 86400,
                    .clientPackage = {{"downloadUrl", updateUrl(packageName)},
                                      {"executablePath", "TalvoPC/talvo-曜石纪元.exe"},
                                      {"sha256", lowerHex(package)},
                                      {"version", "7"}},
                    .launcher = LauncherRelease{.version = "1.3.0",
                                                .downloadUrl = updateUrl("Gatehouse-1.3.0.exe"),
                                                .sha256 = lowerHex(launcherBuild)}};
        signer = key();
        oneSignedFile = false;
        request = {.manifestUrl = updateUrl("manifest.json"), .publicKeyHex = key().publicKeyHex};
    }

    void host() {
        const std::string document = serializeUpdateManifest(manifest);
        const std::string signature = signUpdateMessage(signer, document);
        answers.clear();
        if (oneSignedFile) {
            answers[updatePath + "manifest.json"] = httpResponse(200, signature + "\n" + document, fresh);
        } else {
            answers[updatePath + "manifest.json"] = httpResponse(200, document, fresh);
            answers[updatePath + "manifest.json.sig"] = httpResponse(200, signature + "\n", fresh);
        }
        answers[updatePath + packageName] = httpResponse(200, package, immutable);
        answers[updatePath + "Gatehouse-1.3.0.exe"] = httpResponse(200, launcherBuild, immutable);
    }

    std::vector<VerifyFinding> verify() {
        CancelToken token;
        return verifyDeployment(request, dir.path(), currentUtcSeconds(), token, {}, {});
    }
};

std::string outcomeWord(VerifyFinding::Outcome outcome) {
    return outcome == VerifyFinding::Outcome::ok        ? "OK"
           : outcome == VerifyFinding::Outcome::warning ? "WARN"
                                                        : "FAIL";
}

TEST_F(HostedDeployment, AsPublishedPassesEveryCheckALauncherMakes) {
    request.previousSequence = manifest.sequence; // an unchanged manifest checked again
    host();
    std::vector<std::string> checks;
    std::map<std::string, std::string> actual;
    for (const VerifyFinding& finding : verify()) {
        checks.push_back(outcomeWord(finding.outcome) + " " + finding.check);
        actual[finding.check] = finding.actual;
    }
    EXPECT_EQ(checks, (std::vector<std::string>{
                          "OK manifest.address", "OK manifest.cache", "OK signature.address",
                          "OK signature.cache", "OK manifest.signature", "OK manifest.expiry",
                          "OK manifest.sequence", "OK manifest.clientPackage", "OK package.address",
                          "OK package.size", "OK package.sha256", "OK package.cache", "OK launcher.address",
                          "OK launcher.size", "OK launcher.sha256", "OK launcher.cache"}));
    EXPECT_EQ(actual["package.size"], "300000 bytes");
    EXPECT_EQ(actual["package.sha256"], lowerHex(package));
    EXPECT_EQ(actual["manifest.cache"], "Cache-Control: no-cache");
}

TEST_F(HostedDeployment, EachBreakageIsNamedByTheCheckItFails) {
    const UpdateSigningKey stranger = generateUpdateSigningKey();
    const std::string packagePath = updatePath + packageName;
    const std::string manifestPath = updatePath + "manifest.json";
    struct Case {
        const char* what;
        std::function<void()> before; // changes what is published
        std::function<void()> after;  // changes what is hosted
        std::string expected;         // every finding that is not OK
    };
    const auto nothing = [] {};
    const Case cases[] = {
        {"package digest differs", nothing,
         [&] { answers[packagePath] = httpResponse(200, testing::patternBytes(299999) + "x", immutable); },
         "FAIL package.sha256"},
        {"package cut short of its Content-Length", nothing,
         [&] { answers[packagePath] = testing::httpHead(200, 300001, immutable) + package; },
         "FAIL package.size"},
        {"signed by another key", [&] { signer = stranger; }, nothing, "FAIL manifest.signature"},
        {"expired", [&] { manifest.expires = currentUtcSeconds() - 3600; }, nothing, "FAIL manifest.expiry"},
        {"package missing", nothing, [&] { answers.erase(packagePath); }, "FAIL package.address"},
        {"package redirected to another host over plain HTTP", nothing,
         [&] {
             answers[packagePath] =
                 httpResponse(302, "", "Location: http://127.0.0.2" + packagePath + "\r\n");
         },
         "FAIL package.address"},
        {"sequence below the one published last", [&] { request.previousSequence = manifest.sequence + 1; },
         nothing, "FAIL manifest.sequence"},
        {"expires in 3 days", [&] { manifest.expires = currentUtcSeconds() + 3 * 86400; }, nothing,
         "WARN manifest.expiry"},
        {"manifest cached for an hour", nothing,
         [&] {
             const std::string answer = answers[manifestPath];
             answers[manifestPath] = httpResponse(200, answer.substr(answer.find("\r\n\r\n") + 4),
                                                  "Cache-Control: max-age=3600\r\n");
         },
         "WARN manifest.cache"},
        {"served as one signed file", [&] { oneSignedFile = true; }, nothing, ""},
        {"a configuration's package, without a manifest",
         [&] {
             nlohmann::json document = builtInConfigDocument();
             document["clientPackage"]["downloadUrl"] = updateUrl(packageName);
             document["clientPackage"]["sha256"] = lowerHex(package);
             testing::writeBytes(dir / configFileName, serializeConfigDocument(document));
             request = {.configFile = dir / configFileName};
         },
         nothing, ""},
    };
    for (const Case& row : cases) {
        publish();
        row.before();
        host();
        row.after();
        std::string notOk;
        for (const VerifyFinding& finding : verify())
            if (finding.outcome != VerifyFinding::Outcome::ok)
                notOk += (notOk.empty() ? "" : ", ") + outcomeWord(finding.outcome) + " " + finding.check;
        EXPECT_EQ(notOk, row.expected) << row.what;
    }
}

// A content store of one pack beside the manifest: the index, and a pack whose last byte must answer.
TEST_F(HostedDeployment, AStoresIndexAndEveryPackAreChecked) {
    const std::string pack = testing::patternBytes(5000);
    ChunkIndex index;
    index.packageDigest = *parseStoreDigest(lowerHex(package));
    index.packs = {{sha256Digest(pack.data(), pack.size()), pack.size()}};
    index.chunks = {{sha256Digest(pack.data(), pack.size()), 5000, 0, 0, 5000}};
    index.files = {{"TalvoPC/data.bin", 5000, {}, {0}}};
    const std::string indexBytes = serializeChunkIndex(index);
    const std::string indexPath =
        updatePath + "store/" + indexStorePath(sha256Digest(indexBytes.data(), indexBytes.size()));
    const std::string packPath = updatePath + "store/" + packStorePath(index.packs[0].digest);
    const struct {
        const char* what;
        std::function<void()> spoil;
        std::string expected; // the store's findings
    } cases[] = {
        {"as published", [] {},
         "OK store.index.address, OK store.index.sha256, OK store.index.document, OK store.packs"},
        {"pack missing", [&] { files.erase(packPath); },
         "OK store.index.address, OK store.index.sha256, OK store.index.document, FAIL store.packs, FAIL "
         "store.packs"},
        {"index of other bytes", [&] { manifest.clientPackage["index"]["sha256"] = std::string(64, 'a'); },
         "OK store.index.address, FAIL store.index.sha256"},
    };
    for (const auto& row : cases) {
        publish();
        manifest.clientPackage["index"] = {{"url", "http://" + std::string(packageHostUtf8) + indexPath},
                                           {"size", indexBytes.size()},
                                           {"sha256", lowerHex(indexBytes)}};
        files = {{indexPath, indexBytes}, {packPath, pack}};
        row.spoil();
        host();
        std::string store;
        for (const VerifyFinding& finding : verify())
            if (finding.check.starts_with("store."))
                store += (store.empty() ? "" : ", ") + outcomeWord(finding.outcome) + " " + finding.check;
        EXPECT_EQ(store, row.expected) << row.what;
    }
}

} // namespace
} // namespace launcher
