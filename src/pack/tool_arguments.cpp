#include "pack/tool_arguments.h"

#include "foundation/text.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <utility>

namespace launcher {
namespace {

using Kind = ToolCommand::Kind;

// Takes option values off the argument list one by one.
class ArgumentList {
public:
    explicit ArgumentList(const std::vector<std::wstring>& arguments, std::size_t first)
        : arguments_(arguments), next_(first) {}
    bool done() const { return next_ >= arguments_.size(); }
    const std::wstring& take() { return arguments_[next_++]; }
    std::wstring valueOf(std::wstring_view option) {
        if (done()) throw UsageError(utf16ToUtf8(option) + " needs a value");
        return take();
    }
    std::string utf8ValueOf(std::wstring_view option) { return utf16ToUtf8(valueOf(option)); }

private:
    const std::vector<std::wstring>& arguments_;
    std::size_t next_;
};

// A whole number from 1 to `maximum`, or UsageError("<option> needs a number from 1 to <maximum>").
std::uint64_t parseCount(const std::wstring& text, const char* option, std::uint64_t maximum) {
    const std::string refusal = std::string(option) + " needs a number from 1 to " + std::to_string(maximum);
    std::uint64_t value = 0;
    for (const wchar_t digit : text) {
        if (digit < L'0' || digit > L'9' || value > maximum) throw UsageError(refusal);
        value = value * 10 + static_cast<std::uint64_t>(digit - L'0');
    }
    if (text.empty() || value == 0 || value > maximum) throw UsageError(refusal);
    return value;
}

// Takes one option of a command with its value; false when `option` is not one of the command's.
using OwnOption = std::function<bool(const std::wstring& option, ArgumentList& list)>;

// What every command shares: --help, --stats, --json, --config (unless the command has no
// configuration), unknown options refused, and the positional arguments in their order.
struct SharedArguments {
    bool help = false;
    bool stats = false;
    bool json = false;
    std::optional<std::filesystem::path> configFile;
    std::vector<std::wstring> positional;
};

// Reads a command's arguments in order, offering each to `own` first. Stops at --help.
SharedArguments readArguments(ArgumentList& list, bool takesConfig, const OwnOption& own) {
    SharedArguments shared;
    while (!list.done()) {
        const std::wstring argument = list.take();
        if (argument == L"--help" || argument == L"-h") {
            shared.help = true;
            break;
        } else if (argument == L"--config" && takesConfig) {
            shared.configFile = list.valueOf(argument);
        } else if (argument == L"--stats") {
            shared.stats = true;
        } else if (argument == L"--json") {
            shared.json = true;
        } else if (own(argument, list)) {
            continue; // the command's own option, with its value
        } else if (argument.starts_with(L"--")) {
            throw UsageError("unknown option: " + utf16ToUtf8(argument));
        } else {
            shared.positional.push_back(argument);
        }
    }
    return shared;
}

// A command of `kind` with the shared options read.
ToolCommand commandOf(Kind kind, const SharedArguments& shared) {
    ToolCommand command;
    command.kind = kind;
    command.configFile = shared.configFile;
    command.stats = shared.stats;
    command.json = shared.json;
    return command;
}

ToolCommand parsePack(ArgumentList& list) {
    PackRequest pack;
    bool hasExecutable = false, hasVersion = false, keepUrl = false;
    const SharedArguments shared =
        readArguments(list, true, [&](const std::wstring& option, ArgumentList& values) {
            if (option == L"--executable") {
                pack.executablePath = values.utf8ValueOf(option);
                hasExecutable = true;
            } else if (option == L"--version") {
                pack.version = values.utf8ValueOf(option);
                hasVersion = true;
            } else if (option == L"--url") {
                pack.downloadUrl = values.utf8ValueOf(option);
            } else if (option == L"--keep-url") {
                keepUrl = true;
            } else if (option == L"--threads") {
                pack.threads = static_cast<unsigned>(parseCount(values.valueOf(option), "--threads", 1024));
            } else {
                return false;
            }
            return true;
        });
    if (shared.help) return ToolCommand{};
    if (shared.positional.size() != 2) throw UsageError("pack takes a client folder and a package file");
    if (!hasExecutable || pack.executablePath.empty()) throw UsageError("pack needs --executable");
    if (!hasVersion || pack.version.empty()) throw UsageError("pack needs --version");
    if (pack.downloadUrl && !shared.configFile) throw UsageError("--url goes with --config");
    if (keepUrl && !shared.configFile) throw UsageError("--keep-url goes with --config");
    if (keepUrl && pack.downloadUrl) throw UsageError("--url and --keep-url exclude each other");
    // New bytes under an address players' caches and CDNs already hold would be served wrongly.
    if (shared.configFile && !pack.downloadUrl && !keepUrl)
        throw UsageError("pack --config needs --url with the new package's address, or --keep-url to keep "
                         "the configuration's clientPackage.downloadUrl");
    pack.clientFolder = shared.positional[0];
    pack.output = shared.positional[1];
    pack.configFile = shared.configFile;
    ToolCommand command = commandOf(Kind::pack, shared);
    command.pack = std::move(pack);
    return command;
}

ToolCommand parseCheck(ArgumentList& list) {
    StoreCheckRequest store;
    const SharedArguments shared =
        readArguments(list, true, [&](const std::wstring& option, ArgumentList& values) {
            if (option == L"--store")
                store.store = values.valueOf(option);
            else if (option == L"--index")
                store.indexFile = values.valueOf(option);
            else
                return false;
            return true;
        });
    if (shared.help) return ToolCommand{};
    if (shared.positional.size() != 1) throw UsageError("check takes one package file");
    ToolCommand command = commandOf(Kind::check, shared);
    command.package = shared.positional.front();
    if (store.store || store.indexFile) command.store = std::move(store);
    return command;
}

ToolCommand parseKeygen(ArgumentList& list) {
    const SharedArguments shared =
        readArguments(list, false, [](const std::wstring&, ArgumentList&) { return false; });
    if (shared.help) return ToolCommand{};
    if (shared.positional.size() != 1) throw UsageError("keygen takes one key file");
    ToolCommand command = commandOf(Kind::keygen, shared);
    command.keyFile = shared.positional.front();
    return command;
}

// The options of publish that name its files and its client package.
bool takePublishOption(PublishRequest& publish, const std::wstring& option, ArgumentList& values) {
    if (option == L"--key")
        publish.keyFile = values.valueOf(option);
    else if (option == L"--manifest")
        publish.manifest = values.valueOf(option);
    else if (option == L"--executable")
        publish.executablePath = values.utf8ValueOf(option);
    else if (option == L"--version")
        publish.version = values.utf8ValueOf(option);
    else if (option == L"--url")
        publish.downloadUrl = values.utf8ValueOf(option);
    else if (option == L"--expires-days")
        publish.expiresDays =
            static_cast<unsigned>(parseCount(values.valueOf(option), "--expires-days", 3650));
    else if (option == L"--sequence")
        publish.sequence = parseCount(values.valueOf(option), "--sequence", maxManifestSequence);
    else if (option == L"--legacy-manifest")
        publish.legacyManifest = values.valueOf(option);
    else
        return false;
    return true;
}

// The content store, whose two options only make sense together.
struct StoreOptions {
    std::optional<std::wstring> folder;
    std::optional<std::string> url;
};

bool takeStoreOption(StoreOptions& store, const std::wstring& option, ArgumentList& values) {
    if (option == L"--store")
        store.folder = values.valueOf(option);
    else if (option == L"--store-url")
        store.url = values.utf8ValueOf(option);
    else
        return false;
    return true;
}

std::optional<StoreTarget> storeTarget(const StoreOptions& store) {
    if (!store.folder && !store.url) return std::nullopt;
    if (!store.folder || store.folder->empty() || !store.url || store.url->empty())
        throw UsageError("--store and --store-url go together");
    // The index's address is the store's with indexes/<digest>.index after it.
    if (!store.url->ends_with('/')) throw UsageError("--store-url needs an address ending in \"/\"");
    return StoreTarget{.folder = *store.folder, .url = *store.url, .packBytes = storePackRollBytes};
}

// The launcher build offered alongside, whose three options only make sense together.
struct LauncherOptions {
    std::optional<std::wstring> executable;
    std::optional<std::string> version;
    std::optional<std::string> downloadUrl;
};

bool takeLauncherOption(LauncherOptions& launcher, const std::wstring& option, ArgumentList& values) {
    if (option == L"--launcher")
        launcher.executable = values.valueOf(option);
    else if (option == L"--launcher-version")
        launcher.version = values.utf8ValueOf(option);
    else if (option == L"--launcher-url")
        launcher.downloadUrl = values.utf8ValueOf(option);
    else
        return false;
    return true;
}

std::optional<LauncherOffer> launcherOffer(const LauncherOptions& launcher) {
    if (!launcher.executable && !launcher.version && !launcher.downloadUrl) return std::nullopt;
    if (!launcher.executable || !launcher.version || launcher.version->empty() || !launcher.downloadUrl ||
        launcher.downloadUrl->empty())
        throw UsageError("--launcher, --launcher-version and --launcher-url go together");
    return LauncherOffer{.executable = *launcher.executable,
                         .version = *launcher.version,
                         .downloadUrl = *launcher.downloadUrl};
}

ToolCommand parsePublish(ArgumentList& list) {
    PublishRequest publish;
    LauncherOptions launcher;
    StoreOptions store;
    const SharedArguments shared =
        readArguments(list, true, [&](const std::wstring& option, ArgumentList& values) {
            return takePublishOption(publish, option, values) ||
                   takeLauncherOption(launcher, option, values) || takeStoreOption(store, option, values);
        });
    if (shared.help) return ToolCommand{};
    if (shared.positional.size() != 1) throw UsageError("publish takes one package file");
    if (publish.keyFile.empty()) throw UsageError("publish needs --key");
    if (publish.manifest.empty()) throw UsageError("publish needs --manifest");
    if (publish.executablePath.empty()) throw UsageError("publish needs --executable");
    if (publish.version.empty()) throw UsageError("publish needs --version");
    if (publish.downloadUrl.empty()) throw UsageError("publish needs --url");
    publish.launcher = launcherOffer(launcher);
    publish.store = storeTarget(store);
    publish.package = shared.positional.front();
    publish.configFile = shared.configFile;
    ToolCommand command = commandOf(Kind::publish, shared);
    command.publish = std::move(publish);
    return command;
}

ToolCommand parseRenew(ArgumentList& list) {
    RenewRequest renew;
    const SharedArguments shared =
        readArguments(list, false, [&](const std::wstring& option, ArgumentList& values) {
            if (option == L"--key")
                renew.keyFile = values.valueOf(option);
            else if (option == L"--manifest")
                renew.manifest = values.valueOf(option);
            else if (option == L"--expires-days")
                renew.expiresDays =
                    static_cast<unsigned>(parseCount(values.valueOf(option), "--expires-days", 3650));
            else if (option == L"--sequence")
                renew.sequence = parseCount(values.valueOf(option), "--sequence", maxManifestSequence);
            else if (option == L"--legacy-manifest")
                renew.legacyManifest = values.valueOf(option);
            else
                return false;
            return true;
        });
    if (shared.help) return ToolCommand{};
    if (!shared.positional.empty()) throw UsageError("renew takes no file but its options");
    if (renew.keyFile.empty()) throw UsageError("renew needs --key");
    if (renew.manifest.empty()) throw UsageError("renew needs --manifest");
    ToolCommand command = commandOf(Kind::renew, shared);
    command.renew = std::move(renew);
    return command;
}

// The options of verify: where the deployment starts, the key, and the sequence last published.
bool takeVerifyOption(VerifyRequest& verify, const std::wstring& option, ArgumentList& values) {
    if (option == L"--manifest-url")
        verify.manifestUrl = values.utf8ValueOf(option);
    else if (option == L"--public-key")
        verify.publicKeyHex = values.utf8ValueOf(option);
    else if (option == L"--key")
        verify.keyFile = values.valueOf(option);
    else if (option == L"--previous-sequence")
        verify.previousSequence =
            parseCount(values.valueOf(option), "--previous-sequence", maxManifestSequence);
    else
        return false;
    return true;
}

ToolCommand parseVerify(ArgumentList& list) {
    VerifyRequest verify;
    const SharedArguments shared =
        readArguments(list, true, [&](const std::wstring& option, ArgumentList& values) {
            return takeVerifyOption(verify, option, values);
        });
    if (shared.help) return ToolCommand{};
    if (!shared.positional.empty()) throw UsageError("verify takes no file: give --manifest-url or --config");
    if (verify.manifestUrl && verify.manifestUrl->empty())
        throw UsageError("--manifest-url needs an address");
    const bool hasPublicKey = !verify.publicKeyHex.empty();
    if (!verify.manifestUrl && (hasPublicKey || verify.keyFile || verify.previousSequence))
        throw UsageError("--public-key, --key and --previous-sequence go with --manifest-url");
    if (verify.manifestUrl && hasPublicKey == verify.keyFile.has_value())
        throw UsageError("verify --manifest-url needs either --public-key or --key");
    if (hasPublicKey && !isPublicKeyHex(verify.publicKeyHex))
        throw UsageError("--public-key needs the 128 hexadecimal digits keygen prints");
    verify.configFile = shared.configFile;
    ToolCommand command = commandOf(Kind::verify, shared);
    command.verify = std::move(verify);
    return command;
}

ToolCommand parsePrune(ArgumentList& list) {
    PruneRequest prune;
    const SharedArguments shared =
        readArguments(list, false, [&](const std::wstring& option, ArgumentList& values) {
            if (option == L"--store")
                prune.store = values.valueOf(option);
            else if (option == L"--keep")
                prune.keep.push_back(values.valueOf(option));
            else if (option == L"--dry-run")
                prune.dryRun = true;
            else
                return false;
            return true;
        });
    if (shared.help) return ToolCommand{};
    if (!shared.positional.empty()) throw UsageError("prune takes no file but its options");
    if (prune.store.empty()) throw UsageError("prune needs --store");
    // Keeping nothing would empty the store: a version players still fetch must be named.
    if (prune.keep.empty()) throw UsageError("prune needs --keep for each version to keep");
    ToolCommand command = commandOf(Kind::prune, shared);
    command.prune = std::move(prune);
    return command;
}

} // namespace

std::string commandNameOf(const std::vector<std::wstring>& arguments) {
    if (arguments.empty() || arguments.front().starts_with(L"-") || arguments.front().starts_with(L"/"))
        return {};
    return utf16ToUtf8(arguments.front());
}

bool asksForJson(const std::vector<std::wstring>& arguments) {
    return std::ranges::find(arguments, L"--json") != arguments.end();
}

ToolCommand parseToolArguments(const std::vector<std::wstring>& arguments) {
    if (arguments.empty()) throw UsageError("no command given");
    const std::wstring& verb = arguments.front();
    if (verb == L"help" || verb == L"--help" || verb == L"-h" || verb == L"/?") return ToolCommand{};
    ArgumentList rest(arguments, 1);
    if (verb == L"pack") return parsePack(rest);
    if (verb == L"check") return parseCheck(rest);
    if (verb == L"keygen") return parseKeygen(rest);
    if (verb == L"publish") return parsePublish(rest);
    if (verb == L"renew") return parseRenew(rest);
    if (verb == L"verify") return parseVerify(rest);
    if (verb == L"prune") return parsePrune(rest);
    throw UsageError("unknown command: " + utf16ToUtf8(verb));
}

std::string toolUsage() {
    return "用法 / usage:\n"
           "  gatehouse-pack pack CLIENT_DIR OUT.zip --executable TalvoPC/talvo-曜石纪元.exe --version V\n"
           "                 [--config launcher.config.json (--url URL | --keep-url)] [--threads N]\n"
           "      Packs the client folder into a package every launcher accepts; with --config, sets\n"
           "      clientPackage.downloadUrl (--url, the new package's own address; --keep-url keeps the\n"
           "      one there), sha256, version and executablePath in that file.\n"
           "  gatehouse-pack check PACKAGE.zip [--config launcher.config.json] [--store DIR] [--index FILE]\n"
           "      Checks a package as the launcher would after downloading it, without installing. With\n"
           "      --store or --index, also checks a content store against it: the index (FILE, else each\n"
           "      index in DIR naming the package), every pack (size, SHA-256), every chunk, and that the\n"
           "      index lists exactly the package's folders and files with the same bytes.\n"
           "  gatehouse-pack keygen KEY_FILE\n"
           "      Makes the update signing key pair in a new file only the current Windows user may open,\n"
           "      and prints the public key for the build.\n"
           "  gatehouse-pack publish PACKAGE.zip --key KEY_FILE --manifest manifest.signed --executable EXE\n"
           "                 --version V --url URL [--config launcher.config.json] [--expires-days N]\n"
           "                 [--sequence N] [--launcher EXE --launcher-version V --launcher-url URL]\n"
           "                 [--legacy-manifest manifest.json] [--store DIR --store-url URL/] [--stats]\n"
           "      Checks the package, then writes the signed update manifest (manifest and signature in\n"
           "      one file); it expires in N days (30). Its clientPackage names only the package\n"
           "      (downloadUrl, sha256, version, executablePath). Sequence: one past that of the manifest\n"
           "      already there, taken only when it verifies with the key (1 when there is none). One that\n"
           "      does not verify is refused unless --sequence N gives the number, which must be above a\n"
           "      verified one's (a first publish from another machine); at most 2^53.\n"
           "      --launcher EXE is read, never run: refused unless its update channel has a manifest\n"
           "      address and trusts this key, and its version information says V (1.3 = 1.3.0.0).\n"
           "      --legacy-manifest F also writes F and F.sig, the two files launchers built before the\n"
           "      signed manifest read; its sequence counts too.\n"
           "      --store DIR also writes the package into the content store DIR, served at URL/: chunks no\n"
           "      index there has go into new packs (DIR/packs), the version's index into DIR/indexes, and\n"
           "      the manifest names the index. Upload the files it lists; they never change.\n"
           "  gatehouse-pack renew --key KEY_FILE --manifest manifest.signed [--expires-days N] [--sequence "
           "N]\n"
           "                 [--legacy-manifest manifest.json]\n"
           "      Signs the manifest there again, which must verify with the key, expiring in N days (30)\n"
           "      under the next sequence (or N, as publish); everything else stays. No package needed.\n"
           "  gatehouse-pack verify --manifest-url URL (--public-key HEX | --key KEY_FILE)\n"
           "                 [--config launcher.config.json] [--previous-sequence N] [--stats]\n"
           "  gatehouse-pack verify [--config launcher.config.json] [--stats]\n"
           "      Checks a hosted deployment as launchers meet it, with their own transfer rules: the\n"
           "      manifest (one signed file, or URL and URL.sig) answers 200 and verifies with the key, has\n"
           "      not expired (warning within 7 days), is numbered at least N (the sequence publish printed\n"
           "      last), and its client package passes the configuration's rules; the package and any\n"
           "      launcher build answer 200 with the size announced and the digest named. Reports\n"
           "      Cache-Control (warning: manifest kept over 300 s, packages under a day). Without\n"
           "      --manifest-url, checks the client package the configuration names (the built-in one, as\n"
           "      the launcher beside this tool carries it, without --config). One line per check:\n"
           "      OK, WARN or FAIL, the address, expected and actual; exit code 1 when a check failed.\n"
           "  gatehouse-pack prune --store DIR --keep MANIFEST_OR_INDEX_DIGEST [--keep ...] [--dry-run]\n"
           "      Removes from the content store DIR the indexes not kept and every pack no kept index "
           "uses;\n"
           "      --keep names a signed manifest (its index) or an index's SHA-256. --dry-run only lists.\n"
           "Every command takes --json (one JSON object on stdout at the end: command, ok, exitCode and\n"
           "the results, or the refusal), --stats (time and peak memory on stderr) and --help.\n"
           "A refusal names its rule, the file or entry, and the expected and actual values:\n"
           "  gatehouse-pack: <sentence>\n"
           "    rule:     entry-path-too-long\n"
           "    entry:    TalvoPC/...\n"
           "    expected: ...\n"
           "    actual:   ...\n"
           "Exit codes: 0 done, 1 refused (or failed), 2 wrong usage, 130 interrupted (Ctrl+C).\n";
}

} // namespace launcher
