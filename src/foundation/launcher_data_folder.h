#pragma once

#include <filesystem>
#include <optional>

namespace launcher {

// %LOCALAPPDATA%\K3Gatehouse: the launcher's own files for the current Windows user (the
// diagnostic log, remembered accounts, the last accepted update manifest). Empty when the platform
// cannot name the local application-data folder; creates nothing.
std::optional<std::filesystem::path> launcherDataFolder();

// The same folder below another local application-data folder.
std::filesystem::path launcherDataFolderIn(const std::filesystem::path& localAppData);

} // namespace launcher
