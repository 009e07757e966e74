#include "config/launcher_config.h"

#include "config/config_upgrade.h"
#include "foundation/diagnostic_log.h"
#include "foundation/file_io.h"
#include "foundation/path_normal.h"
#include "foundation/resources.h"
#include "foundation/text.h"

namespace launcher {

using nlohmann::json;

namespace {

// Writes the document to launcher.config.json atomically: keys sorted, two-space indent, raw UTF-8.
void saveLauncherConfig(const LauncherConfig& config) {
    writeFileAtomically(config.baseDirectory / configFileName, serializeConfigDocument(config.document));
}

} // namespace

json builtInConfigDocument() {
    return json::parse(loadResourceBytes(builtinConfigResourceId));
}

LauncherConfig loadLauncherConfig(const std::filesystem::path& executableDirectory) {
    const json builtIn = builtInConfigDocument();
    LauncherConfig config{builtIn, normalizedAbsolutePath(executableDirectory)};

    const std::filesystem::path file = config.baseDirectory / configFileName;
    if (!std::filesystem::exists(file)) {
        logEvent("config.loaded", {{"source", "built-in"}});
        return config;
    }

    bool upgraded = false;
    config.document = readConfigDocument(readFileLimited(file, maxConfigFileBytes), builtIn, upgraded);
    logEvent("config.loaded", {{"source", "file"}, {"path", file}, {"upgraded", upgraded}});
    if (upgraded) {
        saveLauncherConfig(config);
        logEvent("config.rewritten", {{"path", file}});
    }
    return config;
}

std::string serializeConfigDocument(const json& document) {
    // Objects keep their members in key order, so the file lists them alphabetically.
    return document.dump(2, ' ', false, json::error_handler_t::strict);
}

std::wstring loginProxyUrl(const LauncherConfig& config) {
    return multiByteToUtf16(config.document.at("loginProxyUrl").get<std::string>(), codePageUtf8);
}

std::filesystem::path resolveConfiguredPath(const LauncherConfig& config, const std::string& utf8Path) {
    const std::filesystem::path path{multiByteToUtf16(utf8Path, codePageUtf8)};
    // The library does not count \\server\share\x or \\?\C:\x as absolute; Windows does.
    const std::wstring& text = path.native();
    const bool startsWithTwoSeparators =
        text.size() >= 2 && (text[0] == L'\\' || text[0] == L'/') && (text[1] == L'\\' || text[1] == L'/');
    const bool absolute = path.is_absolute() || startsWithTwoSeparators;
    return normalizedAbsolutePath(absolute ? path : config.baseDirectory / path);
}

std::filesystem::path installDirectory(const LauncherConfig& config) {
    return resolveConfiguredPath(
        config, config.document.at("clientPackage").at("installDirectory").get<std::string>());
}

} // namespace launcher
