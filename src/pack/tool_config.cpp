#include "pack/tool_config.h"

#include "config/config_upgrade.h"
#include "config/config_validation.h"
#include "config/deployment.h"
#include "config/endpoint_rules.h"
#include "foundation/file_io.h"
#include "foundation/path_normal.h"
#include "foundation/text.h"
#include "pack/entry_rules.h"
#include "pack/tool_refusal.h"

#include <algorithm>

namespace launcher {
namespace {

using nlohmann::json;

LauncherConfig effectiveConfig(const json& fileDocument, const std::filesystem::path& directory) {
    LauncherConfig config{fileDocument, normalizedAbsolutePath(directory)};
    upgradeConfigDocument(config.document, builtInConfigDocument());
    return config;
}

// What the launcher accepts as a package address; the host is the one this build was made for.
std::string allowedPackageUrls() {
    return "https://<any host>/..., or http://" + utf16ToUtf8(packageHost) + utf16ToUtf8(packagePathPrefix) +
           "....zip on port 80 (the package host this tool was built for)";
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
    const std::string readable = "a readable file of at most " + byteCount(maxConfigFileBytes);
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        throw ToolRefusal("无法读取启动器配置文件。",
                          {.rule = "config-file",
                           .kind = RefusalSubject::file,
                           .subject = shownPath(path),
                           .expected = readable,
                           .actual = std::filesystem::exists(path, error) ? "not a file" : "missing"});
    std::string bytes;
    try {
        bytes = readFileLimited(path, maxConfigFileBytes);
    } catch (...) {
        rethrowNamingFile(path, "config-file", "无法读取启动器配置文件。", readable);
    }
    try {
        json document = parseConfigDocument(bytes);
        LauncherConfig effective = effectiveConfig(document, path.parent_path());
        return ToolConfig{
            .effective = std::move(effective), .fileDocument = std::move(document), .file = path};
    } catch (...) {
        rethrowNamingFile(path, "config-json", "启动器配置文件不是有效的配置文档。",
                          "a JSON object in UTF-8, as launcher.config.json");
    }
}

std::filesystem::path measuredInstallDirectory(const LauncherConfig& config) {
    const std::filesystem::path builtIn = installDirectory({builtInConfigDocument(), likelyLauncherFolder});
    const std::filesystem::path own = installDirectory({config.document, likelyLauncherFolder});
    return own.native().size() > builtIn.native().size() ? own : builtIn;
}

ClientRules clientRules(const LauncherConfig& config) {
    return ClientRules{.installDirectory = measuredInstallDirectory(config),
                       .maxExtractBytes =
                           config.document.at("clientPackage").at("maxExtractBytes").get<std::uint64_t>()};
}

void checkPackageUrl(const std::string& url) {
    std::wstring wide;
    try {
        wide = multiByteToUtf16(url, codePageUtf8);
    } catch (const Error&) {
        // Not UTF-8: the check below refuses the empty text.
    }
    if (isAllowedEndpoint(wide, EndpointPurpose::download)) return;
    throw ToolRefusal("客户端下载地址不是启动器允许的地址。", {.rule = "package-url",
                                                               .kind = RefusalSubject::address,
                                                               .subject = url,
                                                               .expected = allowedPackageUrls(),
                                                               .actual = url});
}

void validateToolConfig(const LauncherConfig& config, const std::filesystem::path& file) {
    const std::filesystem::path shown = file.empty() ? L"(built-in configuration)" : file;
    try {
        const json& package = config.document.at("clientPackage");
        const json& url = package.at("downloadUrl");
        if (url.is_string()) checkPackageUrl(url.get<std::string>());
        if (const json& executable = package.at("executablePath"); executable.is_string()) {
            const std::filesystem::path folder = measuredInstallDirectory(config);
            const std::wstring path = multiByteToUtf16(executable.get<std::string>(), codePageUtf8);
            const PathRuleBreach breach = findPathRuleBreach(folder.native(), path);
            if (breach.rule != PathRule::none)
                throw pathRuleRefusal(breach, executable.get<std::string>(), folder.native());
        }
        validateLauncherConfig(config);
    } catch (...) {
        rethrowNamingFile(shown, "config-invalid", "启动器会拒绝这个配置。");
    }
}

void checkVersionText(const std::string& version, const char* option) {
    const bool control = std::ranges::any_of(
        version, [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
    if (!control && !version.starts_with(' ') && !version.ends_with(' ')) return;
    std::string shown;
    for (const char c : version)
        shown += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? std::string("?") : std::string(1, c);
    throw ToolRefusal("版本号含有控制字符或首尾空格。", {.rule = "version-text",
                                                         .kind = RefusalSubject::option,
                                                         .subject = option,
                                                         .expected = "text without control characters and "
                                                                     "without spaces at either end",
                                                         .actual = "\"" + shown + "\""});
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
    validateToolConfig(effectiveConfig(document, config.file.parent_path()), config.file);
    return document;
}

void publishToConfigFile(ToolConfig& config, const std::optional<std::string>& url, const std::string& sha256,
                         const std::string& version, const std::string& executablePath) {
    json document = publishedDocument(config, url, sha256, version, executablePath);
    try {
        writeFileAtomically(config.file, serializeConfigDocument(document));
    } catch (...) {
        rethrowNamingFile(config.file, "config-file", "无法写入启动器配置文件。");
    }
    config.effective = effectiveConfig(document, config.file.parent_path());
    config.fileDocument = std::move(document);
}

} // namespace launcher
