#include "config/config_validation.h"
#include "config/deployment.h"
#include "config/game_executable_path.h"
#include "foundation/resources.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace launcher {
namespace {

using nlohmann::json;
using testing::failureOf;

class ConfigValidation : public ::testing::Test {
protected:
    LauncherConfig config{json::parse(loadResourceBytes(builtinConfigResourceId)), L"C:\\Games\\Launcher"};
    json& document = config.document;
    json& package = config.document["clientPackage"];

    std::string failure() {
        return failureOf([this] { validateLauncherConfig(config); });
    }
};

TEST_F(ConfigValidation, BuiltInConfigurationIsAccepted) {
    EXPECT_EQ(failure(), "<no error>");
}

TEST_F(ConfigValidation, PlatformMustBeTheOpenApiTalvoSdk) {
    const std::string message = "当前启动器配置不适用于 PCtalvoSDK。";
    document["authenticationMode"] = "OpenApi";
    document["platId"] = "not read"; // later members are not read once one failed
    EXPECT_EQ(failure(), message);
    document["authenticationMode"] = "openApi";
    document["sdkName"] = "PCtalvoSDK ";
    EXPECT_EQ(failure(), message);
    document["sdkName"] = "PCtalvoSDK";
    document["platId"] = 82;
    EXPECT_EQ(failure(), message);
    document.erase("platId");
    EXPECT_EQ(failure(), message);
    document["platId"] = "81";
    EXPECT_EQ(failure(), "<other: [json.exception.type_error.302] type must be number, but is string>");
    // The whole number 81, however it is written; no fraction cut off, no 32-bit wrap-around.
    const std::string refused =
        "<other: [json.exception.type_error.302] type must be a 32-bit integer, but is ";
    const std::pair<const char*, std::string> rows[] = {
        {"81.0", "<no error>"},
        {"8.1e1", "<no error>"},
        {"81.7", refused + "81.7>"},
        {"1e300", refused + "1e+300>"},
        {"4294967377", refused + "4294967377>"},
        {"-4294967215", refused + "-4294967215>"},
    };
    for (const auto& [platId, expected] : rows) {
        document["platId"] = json::parse(platId);
        EXPECT_EQ(failure(), expected) << platId;
    }
}

TEST_F(ConfigValidation, LoginEndpointMustBeAllowedAndCarryNoQuery) {
    const std::string message = "登录接口配置无效。";
    document["loginProxyUrl"] = "https://login.example.com/any/path";
    EXPECT_EQ(failure(), "<no error>");
    document["loginProxyUrl"] = "https://login.example.com/any/path?x=1";
    EXPECT_EQ(failure(), message);
    document["loginProxyUrl"] = "https://login.example.com/any/path?";
    EXPECT_EQ(failure(), message);
    document["loginProxyUrl"] = "https://user:pw@login.example.com/api";
    EXPECT_EQ(failure(), message);
    document["loginProxyUrl"] = "http://login.example.com:9915/api/GameLoginLog/GetUidTalvo";
    EXPECT_EQ(failure(), message);
    document["loginProxyUrl"] = legacyLoginProxyUrl();
    EXPECT_EQ(failure(), "<no error>");
    for (const char* method : {"get", "PUT", ""}) {
        document["loginRequestMethod"] = method;
        EXPECT_EQ(failure(), message) << method;
    }
    document["loginRequestMethod"] = "POST";
    EXPECT_EQ(failure(), "<no error>");
    document.erase("loginRequestMethod");
    EXPECT_EQ(failure(), "<no error>");
    document.erase("loginProxyUrl");
    EXPECT_EQ(failure(), "<other: [json.exception.out_of_range.403] key 'loginProxyUrl' not found>");
}

TEST_F(ConfigValidation, DownloadAddressAndDigest) {
    package["downloadUrl"] =
        "http://" + std::string(packageHostUtf8) + "/K3ClientRes/exe/TalvoPC/new/Client.ZIP";
    EXPECT_EQ(failure(), "<no error>");
    package["downloadUrl"] =
        "http://" + std::string(packageHostUtf8) + "/K3ClientRes/exe/TalvoPC/new/Client.exe";
    EXPECT_EQ(failure(), "客户端下载地址无效。");

    const std::string digestMessage = "客户端安装包 SHA256 配置无效。";
    package["downloadUrl"] =
        "http://" + std::string(packageHostUtf8) + "/K3ClientRes/exe/TalvoPC/new/Client.ZIP";
    package["sha256"] = "";
    EXPECT_EQ(failure(), digestMessage) << "plain HTTP needs a digest";
    package["downloadUrl"] =
        "HTTP://" + std::string(packageHostUtf8) + "/K3ClientRes/exe/TalvoPC/new/Client.zip";
    EXPECT_EQ(failure(), digestMessage) << "however the scheme is written";
    package.erase("sha256");
    EXPECT_EQ(failure(), digestMessage);
    package["downloadUrl"] = "https://cdn.example.com/any/client.bin";
    EXPECT_EQ(failure(), "<no error>") << "HTTPS may omit the digest";
    package["sha256"] = std::string(63, 'a');
    EXPECT_EQ(failure(), digestMessage);
    package["sha256"] = std::string(63, 'a') + "g";
    EXPECT_EQ(failure(), digestMessage);
    package["sha256"] = std::string(65, 'a');
    EXPECT_EQ(failure(), digestMessage);
    package["sha256"] = "0123456789ABCDEFabcdef0123456789ABCDEFabcdef0123456789ABCDEFabcd";
    EXPECT_EQ(failure(), "<no error>");
}

TEST_F(ConfigValidation, SizeLimitsMustBePositiveWholeNumbers) {
    for (const json& bad : {json(0), json(-1), json(1.5), json::parse("1e9"), json("100"), json(nullptr)}) {
        for (const char* key : {"maxDownloadBytes", "maxExtractBytes"}) {
            config.document["clientPackage"][key] = bad;
            EXPECT_EQ(failure(), "安装包大小限制无效。") << key << " " << bad.dump();
            config.document["clientPackage"][key] = 1u;
        }
    }
    package["maxDownloadBytes"] = 18446744073709551615ull;
    EXPECT_EQ(failure(), "<no error>") << "no upper bound";
    package.erase("maxExtractBytes");
    EXPECT_EQ(failure(), "<other: [json.exception.out_of_range.403] key 'maxExtractBytes' not found>");
}

TEST_F(ConfigValidation, InstallDirectoryMustBeItsOwnSubdirectory) {
    const std::string message = "请使用独立的游戏安装子目录。";
    for (const char* bad :
         {".", "", "..", "..\\..", "C:\\", "D:\\", "c:\\games\\LAUNCHER", "C:\\Games\\Launcher\\",
          "GameClient\\..", "..\\Launcher.", "..\\Launcher. ", "\\\\server\\share", "\\\\server\\share\\",
          "\\\\?\\D:\\", "GameClient::$INDEX_ALLOCATION", "C:\\Games\\x:stream"}) {
        package["installDirectory"] = bad;
        EXPECT_EQ(failure(), message) << bad;
    }
    for (const char* good : {"GameClient", "Client\\Talvo", "D:\\Talvo", "C:\\Games\\Launcher2",
                             "..\\Sibling", "\\\\server\\share\\Talvo", "\\\\?\\D:\\Talvo"}) {
        package["installDirectory"] = good;
        EXPECT_EQ(failure(), "<no error>") << good;
    }
}

TEST_F(ConfigValidation, LauncherOnANetworkShareInstallsBesideItselfOnThatShare) {
    config.baseDirectory = L"\\\\cafe\\games\\Launcher";
    EXPECT_EQ(installDirectory(config).native(), L"\\\\cafe\\games\\Launcher\\GameClient");
    EXPECT_EQ(failure(), "<no error>");
    package["installDirectory"] = "..\\..";
    EXPECT_EQ(failure(), "请使用独立的游戏安装子目录。");
}

TEST_F(ConfigValidation, ExecutablePathMustStayInsideTheInstallDirectory) {
    package["executablePath"] = "../talvo.exe";
    EXPECT_EQ(failure(), "安装包包含不安全的文件路径。");
    package["executablePath"] = "C:\\Windows\\notepad.exe";
    EXPECT_EQ(failure(), "安装包文件路径无效。");
    package["executablePath"] = "TalvoPC/CON.exe";
    EXPECT_EQ(failure(), "安装包包含保留文件名。");
    package["installDirectory"] = "D:\\" + std::string(220, 'x');
    package["executablePath"] = "TalvoPC/talvo.exe";
    EXPECT_EQ(failure(),
              "安装路径过长或无效，请选择较短的安装目录。"); // The marker must fit in the directory too,
                                                             // however short the executable's path.
    package["executablePath"] = "a.exe";
    package["installDirectory"] = "D:\\" + std::string(212, 'x');
    EXPECT_EQ(failure(), "<no error>");
    package["installDirectory"] = "D:\\" + std::string(213, 'x');
    EXPECT_EQ(failure(), "安装路径过长或无效，请选择较短的安装目录。");
}

TEST_F(ConfigValidation, ChecksRunInOrderAndStopAtTheFirstFailure) {
    package["sha256"] = "bad";
    package["maxDownloadBytes"] = 0;
    package["installDirectory"] = ".";
    EXPECT_EQ(failure(), "客户端安装包 SHA256 配置无效。");
    document["loginRequestMethod"] = "PUT";
    EXPECT_EQ(failure(), "登录接口配置无效。");
}

TEST_F(ConfigValidation, GameExecutableIsInsideTheInstallDirectoryUnlessConfigured) {
    EXPECT_EQ(gameExecutablePath(config).native(),
              L"C:\\Games\\Launcher\\GameClient\\TalvoPC\\talvo-曜石纪元.exe");
    document["gameExecutable"] = "Talvo\\..\\Talvo\\talvo.exe";
    EXPECT_EQ(gameExecutablePath(config).native(), L"C:\\Games\\Launcher\\Talvo\\talvo.exe");
    document["gameExecutable"] = "E:/Talvo/talvo.exe";
    EXPECT_EQ(gameExecutablePath(config).native(), L"E:\\Talvo\\talvo.exe");
    document["gameExecutable"] = "";
    package["executablePath"] = "..\\..\\Windows\\evil.exe";
    EXPECT_EQ(failureOf([&] { gameExecutablePath(config); }), "安装包包含不安全的文件路径。");
}

} // namespace
} // namespace launcher
