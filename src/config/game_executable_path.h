#pragma once

#include "config/launcher_config.h"

#include <filesystem>

namespace launcher {

// Where the game executable is: the configured gameExecutable if set (absolute, or relative to
// the launcher's directory), else clientPackage.executablePath inside the install directory,
// refused with the path rules' own Error if it could escape it.
std::filesystem::path gameExecutablePath(const LauncherConfig& config);

} // namespace launcher
