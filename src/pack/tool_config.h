#pragma once

#include "config/launcher_config.h"
#include "pack/client_folder.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <optional>
#include <string>

namespace launcher {

// The configuration a package is judged against: an operator's configuration file, or the
// launcher's built-in one placed beside the tool.
struct ToolConfig {
    LauncherConfig effective;    // as a launcher beside the file would run with it
    nlohmann::json fileDocument; // the file as written, when there is one
    std::filesystem::path file;  // empty for the built-in configuration
};

// Reads `file` (a launcher.config.json) the way the launcher does, completed from the built-in
// document; its directory stands for the launcher's. Without a file, the built-in document with
// `toolDirectory` as the launcher's directory. Throws ToolRefusal naming the file: config-file
// when it cannot be read, config-json when it is not a configuration document (with where the
// JSON parse failed).
ToolConfig loadToolConfig(const std::optional<std::filesystem::path>& file,
                          const std::filesystem::path& toolDirectory);

// The folder where the installer puts the launcher for a user whose name has 20 characters, the
// most a Windows account name has: %LOCALAPPDATA%\Programs\曜石纪元.
inline constexpr const wchar_t* likelyLauncherFolder =
    L"C:\\Users\\TwentyCharactersUser\\AppData\\Local\\Programs\\曜石纪元";

// The install folder entry paths are measured under, so a package fits the players likely to have
// the longest one: the longer of the built-in install folder and `config`'s own, each placed as
// the launcher places it beside likelyLauncherFolder (an absolute installDirectory stays as it is).
std::filesystem::path measuredInstallDirectory(const LauncherConfig& config);

// The folder entries are measured under and the size limit of `config`.
ClientRules clientRules(const LauncherConfig& config);

// Refuses a client package address the launcher would refuse (rule package-url), naming the
// addresses it allows with the package host this build was made for.
void checkPackageUrl(const std::string& url);

// Refuses, naming the rule, a configuration the launcher would refuse: the package address
// against the package host this build was made for (package-url), the executable path under the
// measured install folder (entry-path-...), anything else the launcher's
// validation refuses (config-invalid, naming the file, or the built-in configuration when `file`
// is empty).
void validateToolConfig(const LauncherConfig& config, const std::filesystem::path& file);

// Refuses a version text (rule version-text, naming `option`) with control characters, or spaces
// around it that would make one version look like another.
void checkVersionText(const std::string& version, const char* option);

// The configuration file's document pointed at a new package: clientPackage.downloadUrl (when `url`
// is given), sha256, version and executablePath; every other member stays as it is. Throws
// ToolRefusal when a launcher would refuse it (validateToolConfig).
nlohmann::json publishedDocument(const ToolConfig& config, const std::optional<std::string>& url,
                                 const std::string& sha256, const std::string& version,
                                 const std::string& executablePath);

// The same, written to the configuration file atomically.
void publishToConfigFile(ToolConfig& config, const std::optional<std::string>& url, const std::string& sha256,
                         const std::string& version, const std::string& executablePath);

} // namespace launcher
