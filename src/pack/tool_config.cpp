#include "pack/tool_config.h"

#include "config/config_upgrade.h"
#include "config/config_validation.h"
#include "foundation/file_io.h"
#include "foundation/path_normal.h"

namespace launcher {
namespace {

using nlohmann::json;

LauncherConfig effectiveConfig(const json& fileDocument, const std::filesystem::path& directory) {
    LauncherConfig config{fileDocument, normalizedAbsolutePath(directory)};
    upgradeConfigDocument(config.document, builtInConfigDocument());
    return config;
}

} // namespace

ToolConfig loadToolConfig(const std::optional<std::filesystem::path>& file,
                          const std::filesystem::path& toolDirectory) {
    if (!file) {
        return ToolConfig{.effective = {builtInConfigDocument(), normalizedAbsolutePath(toolDirectory)},
                          .fileDocument = {},
                          .file = {}};
    }
    const std::filesystem::path path = normalizedAbsolutePath(*file);
    json document = parseConfigDocument(readFileLimited(path, maxConfigFileBytes));
    LauncherConfig effective = effectiveConfig(document, path.parent_path());
    return ToolConfig{.effective = std::move(effective), .fileDocument = std::move(document), .file = path};
}

ClientRules clientRules(const LauncherConfig& config) {
    return ClientRules{.installDirectory = installDirectory(config),
                       .maxExtractBytes =
                           config.document.at("clientPackage").at("maxExtractBytes").get<std::uint64_t>()};
}

json publishedDocument(const ToolConfig& config, const std::optional<std::string>& url,
                       const std::string& sha256, const std::string& version,
                       const std::string& executablePath) {
    json document = config.fileDocument;
    json& package = document["clientPackage"];
    if (url) package["downloadUrl"] = *url;
    package["sha256"] = sha256;
    package["version"] = version;
    package["executablePath"] = executablePath;
    validateLauncherConfig(effectiveConfig(document, config.file.parent_path()));
    return document;
}

void publishToConfigFile(ToolConfig& config, const std::optional<std::string>& url, const std::string& sha256,
                         const std::string& version, const std::string& executablePath) {
    json document = publishedDocument(config, url, sha256, version, executablePath);
    writeFileAtomically(config.file, serializeConfigDocument(document));
    config.effective = effectiveConfig(document, config.file.parent_path());
    config.fileDocument = std::move(document);
}

} // namespace launcher
