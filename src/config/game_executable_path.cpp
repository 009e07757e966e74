#include "config/game_executable_path.h"

#include "filesystem/path_rules.h"
#include "foundation/text.h"

#include <string>

namespace launcher {

std::filesystem::path gameExecutablePath(const LauncherConfig& config) {
    const std::string gameExecutable = config.document.value("gameExecutable", std::string());
    if (!gameExecutable.empty()) return resolveConfiguredPath(config, gameExecutable);
    const std::string executablePath =
        config.document.at("clientPackage").at("executablePath").get<std::string>();
    return resolvePackagePath(installDirectory(config), multiByteToUtf16(executablePath, codePageUtf8));
}

} // namespace launcher
