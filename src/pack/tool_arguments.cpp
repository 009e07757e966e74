#include "pack/tool_arguments.h"

#include "foundation/text.h"

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

unsigned parseThreads(const std::wstring& text) {
    unsigned value = 0;
    for (const wchar_t digit : text) {
        if (digit < L'0' || digit > L'9' || value > 1000)
            throw UsageError("--threads needs a number from 1 to 1024");
        value = value * 10 + (digit - L'0');
    }
    if (text.empty() || value == 0 || value > 1024)
        throw UsageError("--threads needs a number from 1 to 1024");
    return value;
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
    else
        throw UsageError("unknown command: " + utf16ToUtf8(verb));

    const std::vector<std::wstring> rest(arguments.begin() + 1, arguments.end());
    ArgumentList list(rest);
    std::vector<std::wstring> positional;
    bool hasExecutable = false, hasVersion = false;
    while (!list.done()) {
        const std::wstring argument = list.take();
        const bool packing = command.kind == ToolCommand::Kind::pack;
        if (argument == L"--help" || argument == L"-h") {
            command.kind = ToolCommand::Kind::help;
            return command;
        } else if (argument == L"--config") {
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
            command.pack.threads = parseThreads(list.valueOf(argument));
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
           "Exit codes: 0 accepted, 1 refused or failed, 2 wrong usage.\n";
}

} // namespace launcher
