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
// `toolDirectory` as the launcher's directory. Throws Error, or the JSON library's errors.
ToolConfig loadToolConfig(const std::optional<std::filesystem::path>& file,
                          const std::filesystem::path& toolDirectory);

// The install directory and size limit of `config`.
ClientRules clientRules(const LauncherConfig& config);

// The configuration file's document pointed at a new package: clientPackage.downloadUrl (when `url`
// is given), sha256, version and executablePath; every other member stays as it is. Throws the
// launcher's validation Error when a launcher would refuse it.
nlohmann::json publishedDocument(const ToolConfig& config, const std::optional<std::string>& url,
                                 const std::string& sha256, const std::string& version,
                                 const std::string& executablePath);

// The same, written to the configuration file atomically.
void publishToConfigFile(ToolConfig& config, const std::optional<std::string>& url, const std::string& sha256,
                         const std::string& version, const std::string& executablePath);

} // namespace launcher
