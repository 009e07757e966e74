#include "filesystem/path_rules.h"
#include "foundation/resources.h"
#include "foundation/text.h"
#include "install/installed_marker.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace launcher {
namespace {

using nlohmann::json;
using testing::TempDir;
using testing::writeBytes;
namespace fs = std::filesystem;

const std::string digest = "3813A66F29E4AC582B2E725E305BE6BF79F86849195B3656336F652339B966E9";

// An installed client as the install leaves it: files, marker and a matching configuration.
class InstalledClient : public ::testing::Test {
protected:
    TempDir dir;
    LauncherConfig config{json::parse(loadResourceBytes(builtinConfigResourceId)), dir / L"Launcher"};
    fs::path client = dir / L"Launcher" / L"GameClient";
    json files = json::array();
    CancelToken token;

    void SetUp() override {
        config.document["clientPackage"]["executablePath"] = "TalvoPC/talvo.exe";
        config.document["clientPackage"]["version"] = "2026-11-09.3";
        config.document["clientPackage"]["sha256"] = digest;
        for (const auto& [path, bytes] :
             std::vector<std::pair<std::string, std::string>>{{"TalvoPC\\talvo.exe", "MZ talvo"},
                                                              {"TalvoPC\\talvo_Data\\level0", "level data"},
                                                              {"TalvoPC\\UnityPlayer.dll", "MZ player"},
                                                              {"TalvoPC\\empty.txt", ""}}) {
            fs::create_directories((client / testing::wide(path)).parent_path());
            writeBytes(client / testing::wide(path), bytes);
            files.push_back({{"length", bytes.size()}, {"path", path}});
        }
        writeMarker("2026-11-09.3", digest);
    }

    void writeMarker(const std::string& version, const std::string& sha256) {
        writeBytes(client / installedMarkerName, serializeInstalledMarker(version, sha256, files));
    }

    bool ready() { return isInstalledClientReady(config, token); }
};

TEST_F(InstalledClient, MarkerIsCompactSortedJson) {
    const std::string marker = testing::readBytes(client / installedMarkerName);
    EXPECT_TRUE(marker.starts_with(R"({"files":[{"length":8,"path":"TalvoPC\\talvo.exe"},)")) << marker;
    EXPECT_TRUE(marker.ends_with(R"(],"sha256":")" + digest + R"(","version":"2026-11-09.3"})")) << marker;
}

TEST_F(InstalledClient, MatchingClientIsReady) {
    EXPECT_TRUE(ready());
    writeBytes(client / L"TalvoPC" / L"extra.log", "not listed");
    EXPECT_TRUE(ready()) << "files the marker does not list do not matter";
    config.document["clientPackage"]["sha256"] = testing::narrow(toLowerCase(testing::wide(digest)));
    EXPECT_TRUE(ready()) << "the digest's letter case does not matter";
}

TEST_F(InstalledClient, AnotherVersionOrDigestIsNotReady) {
    config.document["clientPackage"]["version"] = "2026-11-09.4";
    EXPECT_FALSE(ready());
    config.document["clientPackage"]["version"] = "2026-11-09.3";
    writeMarker("2026-11-09.3", std::string(64, 'A'));
    EXPECT_FALSE(ready());
    writeMarker("2026-11-09.3", digest);
    EXPECT_TRUE(ready());
    writeMarker("2026-11-09.3x", digest);
    EXPECT_FALSE(ready());
}

TEST_F(InstalledClient, MissingOrResizedFilesAreNotReadyButSameSizeChangesAre) {
    writeBytes(client / L"TalvoPC" / L"talvo_Data" / L"level0", "LEVEL DATA");
    EXPECT_TRUE(ready()) << "nothing is hashed";
    writeBytes(client / L"TalvoPC" / L"talvo_Data" / L"level0", "level data!");
    EXPECT_FALSE(ready());
    writeBytes(client / L"TalvoPC" / L"talvo_Data" / L"level0", "level data");
    fs::remove(client / L"TalvoPC" / L"empty.txt");
    EXPECT_FALSE(ready());
    fs::create_directory(client / L"TalvoPC" / L"empty.txt");
    EXPECT_FALSE(ready()) << "a directory in place of a listed file";
}

// The marker with `files` and the members after it as given, the rest matching the configuration.
std::string markerWith(const std::string& files, const std::string& more = "") {
    return R"({"files":)" + files + R"(,"sha256":")" + digest + R"(","version":"2026-11-09.3")" + more + "}";
}

const std::string exe = R"("path":"TalvoPC\\talvo.exe")";

TEST_F(InstalledClient, DamagedMarkersAreNotReady) {
    for (const std::string& marker :
         {std::string(),
          std::string("not json"),
          std::string("[]"),
          std::string(R"({"version":"2026-11-09.3"})"),
          markerWith("[]"),
          markerWith(R"([{"length":1,"path":"..\\x"}])"),
          markerWith(R"([{"length":"8",)" + exe + "}]"),
          "[" + markerWith(R"([{"length":8,)" + exe + "}]") + "]",
          markerWith(R"({"length":8,)" + exe + "}"),
          markerWith(R"([{"length":8,)" + exe + R"(},["TalvoPC\\talvo.exe",8]])"),
          markerWith(R"([{"length":8,)" + exe + R"(},{"length":8}])"),
          markerWith(R"([{"length":8,)" + exe + R"(},{"length":8,"path":8}])"),
          markerWith(R"([{"length":8,)" + exe + R"(},{)" + exe + "}])"),
          markerWith(R"([{"length":null,)" + exe + "}]"),
          markerWith(R"([{"length":-8,)" + exe + "}]"),
          markerWith(R"([{"length":1e30,)" + exe + "}]"),
          markerWith(R"([{"length":8,)" + exe + R"(,"length":[8]}])"),
          markerWith(R"([{"length":8,)" + exe + "}]", R"(,"files":[{"length":9,)" + exe + "}]"),
          markerWith(R"([{"length":8,)" + exe + "}]", R"(,"sha256":null)"),
          markerWith(R"([{"length":8,)" + exe + "}]", R"(,"version":["2026-11-09.3"])"),
          markerWith(R"([{"length":8,)" + exe + "}]", R"(,"files":{})"),
          markerWith(R"([{"length":8,)" + exe + "}]") + "x",
          markerWith(R"([{"length":8,)" + exe + "}]").substr(0, 60)}) {
        writeBytes(client / installedMarkerName, marker);
        EXPECT_FALSE(ready()) << marker;
    }
    fs::remove(client / installedMarkerName);
    EXPECT_FALSE(ready());
}

// Key order, spacing, repeated members (the last one counts) and unknown members do not matter.
TEST_F(InstalledClient, ValidMarkersWrittenOtherwiseAreReady) {
    for (const std::string& marker :
         {R"( { "version" : "2026-11-09.3", "sha256" : ")" + digest +
              R"(", "files" : [ { "path" : "TalvoPC/talvo.exe", "length" : 8 } ] } )",
          markerWith(R"([{"length":9,)" + exe + R"(,"length":8,"size":{"length":1,"path":"..\\x"}}])",
                     R"(,"extra":{"files":[],"version":"other"})"),
          markerWith(R"([{"length":8,"path":"TalvoPC\\missing.exe"}])",
                     R"(,"files":[{"length":8,)" + exe + "}]"),
          markerWith(R"([{"length":8,"path":"TalvoPC\\empty.txt",)" + exe + "}]")}) {
        writeBytes(client / installedMarkerName, marker);
        EXPECT_TRUE(ready()) << marker;
    }
}

TEST_F(InstalledClient, IncompleteLayoutIsNotReady) {
    fs::remove(client / L"TalvoPC" / L"UnityPlayer.dll");
    EXPECT_FALSE(ready());
}

TEST_F(InstalledClient, OwnGameExecutableNeedsOnlyTheLayout) {
    fs::remove(client / installedMarkerName);
    config.document["gameExecutable"] = testing::narrow((client / L"TalvoPC" / L"talvo.exe").native());
    EXPECT_TRUE(ready());
    fs::remove_all(client / L"TalvoPC" / L"talvo_Data");
    EXPECT_FALSE(ready());
}

TEST_F(InstalledClient, CancelledCheckThrows) {
    cancel(token);
    EXPECT_THROW(ready(), Canceled);
}

} // namespace
} // namespace launcher
