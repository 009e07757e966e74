#include "config/config_upgrade.h"
#include "config/deployment.h"
#include "foundation/resources.h"

#include <gtest/gtest.h>

namespace launcher {
namespace {

using nlohmann::json;

const json& builtIn() {
    static const json document = json::parse(loadResourceBytes(builtinConfigResourceId));
    return document;
}

// A file written by an earlier launcher: every member present, values current unless changed.
json currentFile() {
    return builtIn();
}

constexpr const char* supersededUpper = "25762C6EF8213818BD860A584344DED76BD14D40BDED430731F21EDD4B57A2BA";

TEST(ConfigUpgrade, CurrentDocumentIsLeftAlone) {
    json document = currentFile();
    EXPECT_FALSE(upgradeConfigDocument(document, builtIn()));
    EXPECT_EQ(document, builtIn());
}

TEST(ConfigUpgrade, MissingTopLevelMembersAreAddedButClientPackageIsNotMergedInside) {
    json document = json::object();
    EXPECT_TRUE(upgradeConfigDocument(document, builtIn()));
    EXPECT_EQ(document, builtIn());

    document = currentFile();
    document["clientPackage"].erase("maxExtractBytes");
    document.erase("gameTitle");
    document["unknownMember"] = 7;
    EXPECT_TRUE(upgradeConfigDocument(document, builtIn()));
    EXPECT_EQ(document["gameTitle"], "曜石纪元");
    EXPECT_FALSE(document["clientPackage"].contains("maxExtractBytes"));
    EXPECT_EQ(document["unknownMember"], 7);
}

TEST(ConfigUpgrade, LegacyOrEmptyLoginAddressTakesTheBuiltInAddressAndMethod) {
    for (const std::string& address : {legacyLoginProxyUrl(), std::string()}) {
        json document = currentFile();
        document["loginProxyUrl"] = address;
        document["loginRequestMethod"] = "POST";
        EXPECT_TRUE(upgradeConfigDocument(document, builtIn())) << address;
        EXPECT_EQ(document["loginProxyUrl"], builtIn()["loginProxyUrl"]);
        EXPECT_EQ(document["loginRequestMethod"], "GET");
    }
}

TEST(ConfigUpgrade, OtherLoginAddressesStay) {
    json document = currentFile();
    document["loginProxyUrl"] = "https://login.example.com/api/GameLoginLog/GetUidTalvo";
    document["loginRequestMethod"] = "POST";
    EXPECT_FALSE(upgradeConfigDocument(document, builtIn()));
    EXPECT_EQ(document["loginRequestMethod"], "POST");

    document["loginProxyUrl"] = legacyLoginProxyUrl() + "/"; // not byte-for-byte legacy
    EXPECT_FALSE(upgradeConfigDocument(document, builtIn()));
}

TEST(ConfigUpgrade, NothingIsUpgradedForAnotherPlatform) {
    json document = currentFile();
    document["loginProxyUrl"] = legacyLoginProxyUrl();
    document["loginRequestMethod"] = "POST";
    document["platId"] = 82;
    document["clientPackage"]["downloadUrl"] = "";
    document["clientPackage"]["executablePath"] = "Game.exe";
    EXPECT_FALSE(upgradeConfigDocument(document, builtIn()));
    EXPECT_EQ(document["loginRequestMethod"], "POST");

    document["platId"] = 81;
    document["sdkName"] = "pctalvosdk";
    EXPECT_FALSE(upgradeConfigDocument(document, builtIn()));
}

// The gate reads `platId` as validation does: a file it upgrades is one validation accepts, and a
// value validation refuses stops loading before the file is rewritten.
TEST(ConfigUpgrade, PlatIdIsReadAsValidationReadsIt) {
    const auto outcome = [](const char* platId) -> std::string {
        json document = currentFile();
        document["loginProxyUrl"] = ""; // taken from the built-in document once past the gate
        document["platId"] = json::parse(platId);
        try {
            return upgradeConfigDocument(document, builtIn()) ? "upgraded" : "left alone";
        } catch (const json::type_error& error) {
            return error.what();
        }
    };
    const std::string refused = "[json.exception.type_error.302] type must be a 32-bit integer, but is ";
    const std::pair<const char*, std::string> rows[] = {
        {"81", "upgraded"},
        {"81.0", "upgraded"},
        {"8.1e1", "upgraded"},
        {"82", "left alone"},
        {"-81.0", "left alone"},
        {"81.5", refused + "81.5"},
        {"1e300", refused + "1e+300"},
        {"4294967377", refused + "4294967377"},
    };
    for (const auto& [platId, expected] : rows)
        EXPECT_EQ(outcome(platId), expected) << platId;
}

TEST(ConfigUpgrade, SupersededPackageFromTheLegacyAddressIsReplaced) {
    json document = currentFile();
    json& package = document["clientPackage"];
    package["sha256"] = supersededUpper;
    package["downloadUrl"] = legacyPackageUrl() + "?v=anything";
    package["version"] = "old";
    package["executablePath"] = "Old/old.exe";
    package["installDirectory"] = "D:\\Games\\Talvo";
    package["maxDownloadBytes"] = 5;
    EXPECT_TRUE(upgradeConfigDocument(document, builtIn()));
    for (const char* key : {"downloadUrl", "sha256", "version", "executablePath"})
        EXPECT_EQ(package[key], builtIn()["clientPackage"][key]) << key;
    EXPECT_EQ(package["installDirectory"], "D:\\Games\\Talvo");
    EXPECT_EQ(package["maxDownloadBytes"], 5);
}

TEST(ConfigUpgrade, SupersededDigestFromAnotherAddressStays) {
    json document = currentFile();
    document["clientPackage"]["sha256"] = supersededUpper;
    document["clientPackage"]["downloadUrl"] =
        "https://cdn.example.com/K3ClientRes/exe/TalvoPC/2026-11-09/TalvoPC.zip";
    EXPECT_FALSE(upgradeConfigDocument(document, builtIn()));
    EXPECT_EQ(document["clientPackage"]["sha256"], supersededUpper);
}

TEST(ConfigUpgrade, PlaceholderPackageWithoutAddressIsReplaced) {
    for (const char* executable : {"Game.exe", ""}) {
        json document = currentFile();
        document["clientPackage"]["downloadUrl"] = "";
        document["clientPackage"]["executablePath"] = executable;
        EXPECT_TRUE(upgradeConfigDocument(document, builtIn())) << executable;
        EXPECT_EQ(document["clientPackage"], builtIn()["clientPackage"]);
    }
    json document = currentFile();
    document["clientPackage"]["downloadUrl"] = "";
    document["clientPackage"]["executablePath"] = "game.exe";
    EXPECT_FALSE(upgradeConfigDocument(document, builtIn()));
}

TEST(ConfigUpgrade, OwnGameExecutableDisablesThePackageUpgrade) {
    json document = currentFile();
    document["gameExecutable"] = "C:\\Talvo\\talvo.exe";
    document["clientPackage"]["sha256"] = supersededUpper;
    document["clientPackage"]["downloadUrl"] = legacyPackageUrl();
    EXPECT_FALSE(upgradeConfigDocument(document, builtIn()));
}

TEST(ConfigUpgrade, MembersOfTheWrongTypeRaiseTheLibraryError) {
    json document = currentFile();
    document["platId"] = "81";
    EXPECT_THROW(upgradeConfigDocument(document, builtIn()), json::type_error);
    document = currentFile();
    document["clientPackage"] = json::array();
    EXPECT_THROW(upgradeConfigDocument(document, builtIn()), json::type_error);
    document = currentFile();
    document["sdkName"] = 1;
    EXPECT_THROW(upgradeConfigDocument(document, builtIn()), json::type_error);
}

} // namespace
} // namespace launcher
