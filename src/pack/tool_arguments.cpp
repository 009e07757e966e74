#include "pack/tool_arguments.h"

#include "foundation/text.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace launcher {
namespace {

// Takes option values off the argument list one by one.
class ArgumentList {
public:
    explicit ArgumentList(const std::vector<std::wstring>& arguments) : arguments_(arguments) {}
    bool done() const { return next_ >= arguments_.size(); }
    const std::wstring& take() { return arguments_[next_++]; }
    std::wstring valueOf(std::wstring_view option) {
        if (done()) throw UsageError(utf16ToUtf8(option) + " needs a value");
        return take();
    }

private:
    const std::vector<std::wstring>& arguments_;
    std::size_t next_ = 0;
};

// A whole number from 1 to `maximum`, or UsageError("<option> needs a number from 1 to <maximum>").
unsigned parseCount(const std::wstring& text, const char* option, unsigned maximum) {
    const std::string refusal = std::string(option) + " needs a number from 1 to " + std::to_string(maximum);
    unsigned value = 0;
    for (const wchar_t digit : text) {
        if (digit < L'0' || digit > L'9' || value > maximum) throw UsageError(refusal);
        value = value * 10 + (digit - L'0');
    }
    if (text.empty() || value == 0 || value > maximum) throw UsageError(refusal);
    return value;
}

// A manifest sequence number from 1 to maxManifestSequence, or UsageError.
std::uint64_t parseSequence(const std::wstring& text) {
    const std::string refusal = "--sequence needs a number from 1 to " + std::to_string(maxManifestSequence);
    std::uint64_t value = 0;
    for (const wchar_t digit : text) {
        if (digit < L'0' || digit > L'9' || value > maxManifestSequence) throw UsageError(refusal);
        value = value * 10 + static_cast<std::uint64_t>(digit - L'0');
    }
    if (text.empty() || value == 0 || value > maxManifestSequence) throw UsageError(refusal);
    return value;
}

// The publish command once its options are read: what it requires, and the launcher options
// that only make sense together.
void completePublish(ToolCommand& command, const std::vector<std::wstring>& positional,
                     const std::optional<std::wstring>& launcherExecutable) {
    PublishRequest& publish = command.publish;
    if (positional.size() != 1) throw UsageError("publish takes one package file");
    if (publish.keyFile.empty()) throw UsageError("publish needs --key");
    if (publish.manifest.empty()) throw UsageError("publish needs --manifest");
    if (publish.executablePath.empty()) throw UsageError("publish needs --executable");
    if (publish.version.empty()) throw UsageError("publish needs --version");
    if (publish.downloadUrl.empty()) throw UsageError("publish needs --url");
    const bool anyLauncher = launcherExecutable || publish.launcher;
    if (anyLauncher && (!launcherExecutable || !publish.launcher || publish.launcher->version.empty() ||
                        publish.launcher->downloadUrl.empty()))
        throw UsageError("--launcher, --launcher-version and --launcher-url go together");
    if (launcherExecutable) publish.launcher->executable = *launcherExecutable;
    publish.package = positional.front();
    publish.configFile = command.configFile;
}

} // namespace

ToolCommand parseToolArguments(const std::vector<std::wstring>& arguments) {
    ToolCommand command;
    if (arguments.empty()) throw UsageError("no command given");
    const std::wstring& verb = arguments.front();
    if (verb == L"help" || verb == L"--help" || verb == L"-h" || verb == L"/?") return command;
    if (verb == L"pack")
        command.kind = ToolCommand::Kind::pack;
    else if (verb == L"check")
        command.kind = ToolCommand::Kind::check;
    else if (verb == L"keygen")
        command.kind = ToolCommand::Kind::keygen;
    else if (verb == L"publish")
        command.kind = ToolCommand::Kind::publish;
    else
        throw UsageError("unknown command: " + utf16ToUtf8(verb));

    const std::vector<std::wstring> rest(arguments.begin() + 1, arguments.end());
    ArgumentList list(rest);
    std::vector<std::wstring> positional;
    bool hasExecutable = false, hasVersion = false;
    std::optional<std::wstring> launcherExecutable;
    const bool packing = command.kind == ToolCommand::Kind::pack;
    const bool publishing = command.kind == ToolCommand::Kind::publish;
    const auto offer = [&]() -> LauncherOffer& {
        if (!command.publish.launcher) command.publish.launcher.emplace();
        return *command.publish.launcher;
    };
    while (!list.done()) {
        const std::wstring argument = list.take();
        if (argument == L"--help" || argument == L"-h") {
            command.kind = ToolCommand::Kind::help;
            return command;
        } else if (argument == L"--config" && command.kind != ToolCommand::Kind::keygen) {
            command.configFile = list.valueOf(argument);
        } else if (argument == L"--stats") {
            command.stats = true;
        } else if (packing && argument == L"--executable") {
            command.pack.executablePath = utf16ToUtf8(list.valueOf(argument));
            hasExecutable = true;
        } else if (packing && argument == L"--version") {
            command.pack.version = utf16ToUtf8(list.valueOf(argument));
            hasVersion = true;
        } else if (packing && argument == L"--url") {
            command.pack.downloadUrl = utf16ToUtf8(list.valueOf(argument));
        } else if (packing && argument == L"--threads") {
            command.pack.threads = parseCount(list.valueOf(argument), "--threads", 1024);
        } else if (publishing && argument == L"--key") {
            command.publish.keyFile = list.valueOf(argument);
        } else if (publishing && argument == L"--manifest") {
            command.publish.manifest = list.valueOf(argument);
        } else if (publishing && argument == L"--executable") {
            command.publish.executablePath = utf16ToUtf8(list.valueOf(argument));
        } else if (publishing && argument == L"--version") {
            command.publish.version = utf16ToUtf8(list.valueOf(argument));
        } else if (publishing && argument == L"--url") {
            command.publish.downloadUrl = utf16ToUtf8(list.valueOf(argument));
        } else if (publishing && argument == L"--expires-days") {
            command.publish.expiresDays = parseCount(list.valueOf(argument), "--expires-days", 3650);
        } else if (publishing && argument == L"--sequence") {
            command.publish.sequence = parseSequence(list.valueOf(argument));
        } else if (publishing && argument == L"--launcher") {
            launcherExecutable = list.valueOf(argument);
        } else if (publishing && argument == L"--launcher-version") {
            offer().version = utf16ToUtf8(list.valueOf(argument));
        } else if (publishing && argument == L"--launcher-url") {
            offer().downloadUrl = utf16ToUtf8(list.valueOf(argument));
        } else if (argument.starts_with(L"--")) {
            throw UsageError("unknown option: " + utf16ToUtf8(argument));
        } else {
            positional.push_back(argument);
        }
    }

    if (command.kind == ToolCommand::Kind::check) {
        if (positional.size() != 1) throw UsageError("check takes one package file");
        command.package = positional.front();
        return command;
    }
    if (command.kind == ToolCommand::Kind::keygen) {
        if (positional.size() != 1) throw UsageError("keygen takes one key file");
        command.keyFile = positional.front();
        return command;
    }
    if (publishing) {
        completePublish(command, positional, launcherExecutable);
        return command;
    }
    if (positional.size() != 2) throw UsageError("pack takes a client folder and a package file");
    if (!hasExecutable || command.pack.executablePath.empty()) throw UsageError("pack needs --executable");
    if (!hasVersion || command.pack.version.empty()) throw UsageError("pack needs --version");
    if (command.pack.downloadUrl && !command.configFile) throw UsageError("--url goes with --config");
    command.pack.clientFolder = positional[0];
    command.pack.output = positional[1];
    command.pack.configFile = command.configFile;
    return command;
}

std::string toolUsage() {
    return "用法 / usage:\n"
           "  gatehouse-pack pack CLIENT_DIR OUT.zip --executable TalvoPC/talvo-曜石纪元.exe --version V\n"
           "                 [--config launcher.config.json [--url URL]] [--threads N] [--stats]\n"
           "      Packs the client folder into a package every launcher accepts; with --config, sets\n"
           "      clientPackage.downloadUrl (--url), sha256, version and executablePath in that file.\n"
           "  gatehouse-pack check PACKAGE.zip [--config launcher.config.json] [--stats]\n"
           "      Checks a package as the launcher would after downloading it, without installing.\n"
           "  gatehouse-pack keygen KEY_FILE\n"
           "      Makes the update signing key pair in a new file only the current Windows user may open,\n"
           "      and prints the public key for the build.\n"
           "  gatehouse-pack publish PACKAGE.zip --key KEY_FILE --manifest OUT.json --executable EXE\n"
           "                 --version V --url URL [--config launcher.config.json] [--expires-days N]\n"
           "                 [--sequence N] [--launcher EXE --launcher-version V --launcher-url URL] "
           "[--stats]\n"
           "      Checks the package, then writes the signed update manifest OUT.json and OUT.json.sig;\n"
           "      it expires in N days (30). Its clientPackage names only the package (downloadUrl, sha256,\n"
           "      version, executablePath). Sequence: one past that of the OUT.json already there, taken\n"
           "      only when OUT.json.sig verifies with the key (1 when there is none). One that does not\n"
           "      verify is refused unless --sequence N gives the number, which must be above a verified\n"
           "      one's (a first publish from another machine); at most 2^53.\n"
           "      --launcher EXE is read, never run: refused unless its update channel has a manifest\n"
           "      address and this key's public key and its version information says V (1.3 = 1.3.0.0).\n"
           "Exit codes: 0 accepted, 1 refused or failed, 2 wrong usage.\n";
}

} // namespace launcher
