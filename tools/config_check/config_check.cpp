// Judges the built-in configuration a build is about to carry with the launcher's own rules, so a
// deployment value the launcher would refuse fails the build instead of every player's first start.
// The build runs it (tools/CMakeLists.txt) before any program carrying the document links.
//
//   builtin_config_check DOCUMENT [MEMBER=VALUE_NAME]...
//
// DOCUMENT is the generated built-in document; each MEMBER=VALUE_NAME pair names the deployment
// value a member comes from (clientPackage.downloadUrl=LAUNCHER_CLIENT_PACKAGE_URL), so a refusal
// says what to change. Exit 0 when the launcher accepts the document, 1 when it refuses it (the
// value, the member and the launcher's reason on stderr), 2 on wrong usage.
#include "config/config_validation.h"
#include "config/launcher_config.h"
#include "foundation/error.h"
#include "foundation/file_io.h"
#include "foundation/text.h"

#include <windows.h>

#include <nlohmann/json.hpp>

#include <map>
#include <string>

namespace {

using namespace launcher;
using nlohmann::json;

// The longest folder the launcher is likely to run from: the installer's, for a 20-character user
// name. The install folder and executable path rules measure paths below it.
constexpr const wchar_t* judgedLauncherFolder =
    L"C:\\Users\\aaaaaaaaaaaaaaaaaaaa\\AppData\\Local\\Programs\\曜石纪元";

void writeError(const std::string& text) {
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written,
                nullptr);
}

// The member whose value a document rule judged, by the rule's sentence; empty when not known.
std::string memberOfDocumentRule(const std::string& sentence) {
    static const std::map<std::string, std::string> members = {
        {"登录接口配置无效。", "loginProxyUrl"},
        {"客户端下载地址无效。", "clientPackage.downloadUrl"},
        {"客户端安装包 SHA256 配置无效。", "clientPackage.sha256"},
    };
    const auto found = members.find(sentence);
    return found == members.end() ? std::string() : found->second;
}

std::string memberValue(const json& document, const std::string& member) {
    const json* value = &document;
    std::size_t start = 0;
    while (value->is_object()) {
        const std::size_t dot = member.find('.', start);
        const auto found = value->find(member.substr(start, dot - start));
        if (found == value->end()) return {};
        value = &*found;
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    return value->is_string() ? value->get<std::string>() : value->dump();
}

std::string refusal(const json& document, const std::map<std::string, std::string>& valueNames,
                    const std::string& member, const std::string& reason) {
    std::string text = "The launcher refuses the built-in configuration these deployment values make:\n";
    if (!member.empty()) {
        const auto name = valueNames.find(member);
        text += "  " + (name == valueNames.end() ? member : name->second + " (" + member + ")") + " = " +
                memberValue(document, member) + "\n";
    }
    return text + "  the launcher's reason: " + reason + "\n";
}

// Runs the launcher's validation in its two stages, so a refusal can be laid at the member it
// concerns: the document's own rules, then the folder and executable path rules.
int judge(const json& document, const std::map<std::string, std::string>& valueNames) {
    try {
        validateConfigDocument(document);
    } catch (const Error& error) {
        writeError(refusal(document, valueNames, memberOfDocumentRule(error.what()), error.what()));
        return 1;
    }
    try {
        validateLauncherConfig(LauncherConfig{document, judgedLauncherFolder});
    } catch (const Error& error) {
        // The install folder is fixed in the document; only the executable path comes from a value.
        writeError(refusal(document, valueNames, "clientPackage.executablePath", error.what()));
        return 1;
    }
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        writeError("usage: builtin_config_check DOCUMENT [MEMBER=VALUE_NAME]...\n");
        return 2;
    }
    std::map<std::string, std::string> valueNames;
    for (int i = 2; i < argc; ++i) {
        const std::string pair = utf16ToUtf8(argv[i]);
        const std::size_t equals = pair.find('=');
        if (equals == std::string::npos) {
            writeError("builtin_config_check: expected MEMBER=VALUE_NAME, got " + pair + "\n");
            return 2;
        }
        valueNames[pair.substr(0, equals)] = pair.substr(equals + 1);
    }
    try {
        // Read as the launcher reads its resource: the same bytes, parsed the same way.
        return judge(json::parse(readFileLimited(argv[1], maxConfigFileBytes)), valueNames);
    } catch (const std::exception& error) {
        // A value that breaks the JSON itself, or a member of the wrong type, stops the launcher before
        // any rule runs.
        writeError("The launcher cannot read the built-in configuration these deployment values make: " +
                   std::string(error.what()) + "\n");
        return 1;
    }
}
