// A client installed over real TLS from the loopback HTTPS test server.
#include "filesystem/path_rules.h"
#include "foundation/resources.h"
#include "install/client_install.h"
#include "install/installed_marker.h"
#include "net/sha256_hash.h"
#include "support/test_support.h"
#include "support/zip_writer.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace launcher {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

TEST(HttpsInstall, PackageWithoutAConfiguredDigestStaysInstalled) {
    const char* port = std::getenv("LAUNCHER_TEST_HTTPS_PORT");
    if (port == nullptr) GTEST_SKIP() << "LAUNCHER_TEST_HTTPS_PORT is not set: run through CTest";
    const std::string package =
        testing::buildZip({{.name = "TalvoPC/talvo-曜石纪元.exe", .data = "MZ game"},
                           {.name = "TalvoPC/talvo-曜石纪元_Data/level0", .data = "level"},
                           {.name = "TalvoPC/UnityPlayer.dll", .data = "MZ player"}});
    const fs::path served = LAUNCHER_TEST_HTTPS_FILES;
    fs::create_directories(served);
    testing::writeBytes(served / L"no-digest.zip", package);

    testing::TempDir dir;
    LauncherConfig config{json::parse(loadResourceBytes(builtinConfigResourceId)), dir / L"Launcher"};
    json& settings = config.document["clientPackage"];
    settings["downloadUrl"] = "https://localhost:" + std::string(port) + "/files/no-digest.zip";
    settings["sha256"] = "";
    CancelToken token;
    ASSERT_EQ(testing::failureOf([&] { installClient(config, token, {}); }), "<no error>");
    const json marker =
        json::parse(testing::readBytes(dir / L"Launcher" / L"GameClient" / installedMarkerName));
    EXPECT_EQ(marker["sha256"], sha256Hex(package.data(), package.size()));
    // The next start checks before it downloads: a ready client means no download.
    EXPECT_TRUE(isInstalledClientReady(config, token));
}

} // namespace
} // namespace launcher
