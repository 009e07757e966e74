#include "config/config_validation.h"

#include "config/document_rules.h"
#include "filesystem/path_rules.h"
#include "foundation/error.h"
#include "foundation/path_normal.h"
#include "foundation/text.h"

#include <string>

namespace launcher {
namespace {

using nlohmann::json;

void checkInstallDirectory(const LauncherConfig& config, const std::filesystem::path& directory) {
    const std::wstring lowerDirectory = toLowerCase(directory.native());
    const std::wstring lowerBase = toLowerCase(config.baseDirectory.native());
    const bool isBase = lowerDirectory == lowerBase;
    const bool isAncestorOfBase = lowerBase.starts_with(lowerDirectory + L'\\');
    // A colon past the drive names a stream: "GameClient::$INDEX_ALLOCATION" opens GameClient
    // itself under a name that no rule here would recognise.
    const bool namesStream =
        directory.native().find(L':', pathRootLength(directory.native())) != std::wstring::npos;
    if (isPathRoot(directory) || isBase || isAncestorOfBase || namesStream)
        throw Error("请使用独立的游戏安装子目录。");
    // The marker is the launcher's own file in the directory: a directory too deep for it could
    // never be installed into, and would only fail after the download.
    if (directory.native().size() + 1 + installedMarkerName.size() > maxInstalledPathLength)
        throw Error("安装路径过长或无效，请选择较短的安装目录。");
}

} // namespace

void validateLauncherConfig(const LauncherConfig& config) {
    validateConfigDocument(config.document);
    const json& package = config.document.at("clientPackage");

    const std::filesystem::path directory = installDirectory(config);
    checkInstallDirectory(config, directory);
    resolvePackagePath(directory,
                       multiByteToUtf16(package.at("executablePath").get<std::string>(), codePageUtf8));
}

} // namespace launcher
