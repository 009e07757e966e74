#include "config/config_upgrade.h"

#include "config/deployment.h"
#include "config/document_rules.h"
#include "foundation/error.h"
#include "foundation/text.h"

#include <algorithm>
#include <string>

namespace launcher {
namespace {

using nlohmann::json;

bool addMissingMembers(json& document, const json& builtIn) {
    bool changed = false;
    for (const auto& [key, value] : builtIn.items()) {
        if (!document.contains(key)) {
            document[key] = value;
            changed = true;
        }
    }
    return changed;
}

bool passesUpgradeGate(const json& document) {
    if (document.value("sdkName", std::string()) != requiredSdkName) return false;
    // Read as the rules read it, so a file is never rewritten only to be refused afterwards.
    return readPlatId(document) == requiredPlatId;
}

bool upgradeLoginAddress(json& document, const json& builtIn) {
    const std::string url = document.value("loginProxyUrl", std::string());
    if (!url.empty() && url != legacyLoginProxyUrl()) return false;
    bool changed = false;
    for (const char* key : {"loginProxyUrl", "loginRequestMethod"}) {
        // A build whose built-in address is the legacy one would otherwise rewrite the file
        // at every start without changing a byte.
        if (document[key] != builtIn.at(key)) {
            document[key] = builtIn.at(key);
            changed = true;
        }
    }
    return changed;
}

bool isOutdatedPackage(const json& package) {
    const std::wstring digest =
        toLowerCase(multiByteToUtf16(package.value("sha256", std::string()), codePageUtf8));
    const bool superseded =
        std::ranges::find(supersededPackageDigests, digest) != supersededPackageDigests.end();

    const std::string downloadUrl = package.value("downloadUrl", std::string());
    const bool legacyAddress = downloadUrl.substr(0, downloadUrl.find('?')) == legacyPackageUrl();
    if (superseded && legacyAddress) return true;

    const std::string executablePath = package.value("executablePath", std::string());
    return downloadUrl.empty() && (executablePath.empty() || executablePath == placeholderExecutablePath);
}

bool upgradeClientPackage(json& document, const json& builtIn) {
    if (!document.value("gameExecutable", std::string()).empty()) return false;
    json& package = document["clientPackage"];
    if (!isOutdatedPackage(package)) return false;
    const json& builtInPackage = builtIn.at("clientPackage");
    for (const char* key : {"downloadUrl", "sha256", "version", "executablePath"})
        package[key] = builtInPackage.at(key);
    return true;
}

} // namespace

bool upgradeConfigDocument(json& document, const json& builtIn) {
    bool changed = addMissingMembers(document, builtIn);
    if (passesUpgradeGate(document)) {
        changed = upgradeLoginAddress(document, builtIn) || changed;
        changed = upgradeClientPackage(document, builtIn) || changed;
    }
    return changed;
}

json parseConfigDocument(std::string_view bytes) {
    json document = json::parse(bytes);
    if (!document.is_object()) throw Error("启动器配置文件无效。");
    return document;
}

json readConfigDocument(std::string_view bytes, const json& builtIn, bool& upgraded) {
    json document = parseConfigDocument(bytes);
    upgraded = upgradeConfigDocument(document, builtIn);
    return document;
}

} // namespace launcher
