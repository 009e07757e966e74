#include "config/deployment.h"
#include "foundation/error.h"
#include "foundation/resources.h"
#include "support/test_support.h"
#include "update/update_manifest.h"

#include <gtest/gtest.h>

namespace launcher {
namespace {

using nlohmann::json;
using testing::failureOf;

const std::string invalid = "更新清单无效。";
const std::string digest(64, 'a');

json validManifest() {
    return {{"sequence", 3},
            {"expires", "2027-01-08T05:00:00Z"},
            {"clientPackage", {{"sha256", digest}, {"version", "2"}}},
            {"launcher",
             {{"version", "1.2.0"},
              {"downloadUrl",
               "http://" + std::string(packageHostUtf8) + "/K3ClientRes/exe/TalvoPC/up/Gatehouse.exe"},
              {"sha256", digest}}}};
}

TEST(UpdateManifest, OnlyWellFormedDocumentsAreRead) {
    const UpdateManifest read = parseUpdateManifest(validManifest().dump());
    EXPECT_EQ(read.sequence, 3u);
    EXPECT_EQ(formatUtcTime(read.expires), "2027-01-08T05:00:00Z");
    ASSERT_TRUE(read.launcher);
    EXPECT_EQ(read.launcher->version, "1.2.0");
    EXPECT_EQ(parseUpdateManifest(serializeUpdateManifest(read)).clientPackage,
              validManifest()["clientPackage"]);

    const std::vector<std::function<void(json&)>> broken = {
        [](json& m) { m = json::array(); },
        [](json& m) { m["sequence"] = -1; },
        [](json& m) { m["sequence"] = 1.5; },
        [](json& m) { m.erase("expires"); },
        [](json& m) { m["expires"] = "2027-01-08 05:00:00Z"; },
        [](json& m) { m["clientPackage"] = "x"; },
        [](json& m) { m["launcher"].erase("sha256"); },
        [](json& m) { m["launcher"]["version"] = "1.2-beta"; },
        // A launcher from anywhere but HTTPS or the package path.
        [](json& m) {
            m["launcher"]["downloadUrl"] = "http://example.com/K3ClientRes/exe/TalvoPC/Gatehouse.exe";
        },
        [](json& m) { m["padding"] = std::string(maxUpdateManifestBytes, ' '); },
    };
    for (std::size_t index = 0; index < broken.size(); ++index) {
        json document = validManifest();
        broken[index](document);
        EXPECT_EQ(failureOf([&] { parseUpdateManifest(document.dump()); }), invalid) << "case " << index;
    }
    EXPECT_EQ(failureOf([] { parseUpdateManifest("{\"sequence\": 1,"); }), invalid);
}

TEST(UpdateManifest, ClientPackageFollowsTheConfigurationsRulesAndNeedsADigest) {
    LauncherConfig config{json::parse(loadResourceBytes(builtinConfigResourceId)), L"C:\\Games\\Launcher"};
    // A site that installs elsewhere and allows less than the built-in limits.
    json& site = config.document["clientPackage"];
    site["installDirectory"] = "D:\\Games\\曜石纪元";
    site["maxDownloadBytes"] = 5000000000u;
    site["maxExtractBytes"] = 9000000000u;
    const json package = {{"downloadUrl", "https://cdn.example.com/TalvoPC-2.zip"},
                          {"sha256", digest},
                          {"version", "2"},
                          {"executablePath", "TalvoPC2/talvo.exe"},
                          // Not the manifest's to decide: ignored, not refused.
                          {"installDirectory", "GameClient"},
                          {"maxDownloadBytes", 17179869184u},
                          {"maxExtractBytes", "all of it"},
                          {"gameTitle", "x"}};
    const json updated = configWithClientPackage(config, package).document["clientPackage"];
    json expected = site;
    for (const char* name : {"downloadUrl", "sha256", "version", "executablePath"})
        expected[name] = package[name];
    EXPECT_EQ(updated, expected);

    json without = package;
    without.erase("sha256");
    EXPECT_EQ(failureOf([&] { configWithClientPackage(config, without); }), invalid);
    json elsewhere = package;
    elsewhere["downloadUrl"] = "http://example.com/K3ClientRes/exe/TalvoPC/x.zip";
    EXPECT_EQ(failureOf([&] { configWithClientPackage(config, elsewhere); }), "客户端下载地址无效。");
    json wrongType = package;
    wrongType["executablePath"] = 7;
    EXPECT_EQ(failureOf([&] { configWithClientPackage(config, wrongType); }), invalid);
}

TEST(UpdateManifest, TimesAndVersionsCompareAsCalendarsAndNumbers) {
    EXPECT_EQ(parseUtcTime("1970-01-01T00:00:00Z"), 0);
    EXPECT_EQ(parseUtcTime("2000-03-01T00:00:00Z") - parseUtcTime("2000-02-28T00:00:00Z"), 2 * 86400);
    for (const char* time : {"2000-02-29T12:34:56Z", "2026-12-31T23:59:59Z", "2100-02-28T00:00:00Z"})
        EXPECT_EQ(formatUtcTime(parseUtcTime(time)), time);
    for (const char* time :
         {"2026-02-29T00:00:00Z", "2100-02-29T00:00:00Z", "2026-13-01T00:00:00Z", "2026-12-09T24:00:00Z",
          "2026-12-09T05:00:00", "2026-12-09T05:00:00+08:00", "2026-12-09T05:00:00z", "2026-12-09T05:00:00 "})
        EXPECT_EQ(failureOf([&] { parseUtcTime(time); }), invalid) << time;

    EXPECT_GT(compareVersions("1.10.0", "1.9"), 0);
    // A part past the other's end decides: a launcher at 1.2 takes 1.2.1, and not the other way.
    EXPECT_GT(compareVersions("1.2.1", "1.2"), 0);
    EXPECT_LT(compareVersions("1.2", "1.2.1"), 0);
    EXPECT_EQ(compareVersions("1.0", "1.0.0"), 0);
    EXPECT_LT(compareVersions("0.6.1.0", "0.6.1.1"), 0);
    EXPECT_LT(compareVersions("beta", "0.0.1"), 0);
}

} // namespace
} // namespace launcher
