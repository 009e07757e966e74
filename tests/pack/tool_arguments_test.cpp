#include "pack/tool_arguments.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace launcher {
namespace {

using Kind = ToolCommand::Kind;
using testing::narrow;

std::string pathOf(const std::optional<std::filesystem::path>& path) {
    return path ? narrow(path->native()) : "-";
}

// What the tool would do with a command, in one line: the verb and every value it acts on.
std::string described(const ToolCommand& command) {
    const std::string stats = std::string(command.stats ? " stats" : "") + (command.json ? " json" : "");
    switch (command.kind) {
    case Kind::help:
        return "help";
    case Kind::pack: {
        const PackRequest& pack = command.pack;
        return "pack " + narrow(pack.clientFolder.native()) + " -> " + narrow(pack.output.native()) +
               " exe=" + pack.executablePath + " version=" + pack.version +
               " config=" + pathOf(pack.configFile) + " url=" + pack.downloadUrl.value_or("-") +
               " threads=" + std::to_string(pack.threads) + stats;
    }
    case Kind::check: {
        std::string text =
            "check " + narrow(command.package.native()) + " config=" + pathOf(command.configFile);
        if (command.store)
            text += " store=" + pathOf(command.store->store) + " index=" + pathOf(command.store->indexFile);
        return text + stats;
    }
    case Kind::keygen:
        return "keygen " + narrow(command.keyFile.native()) + stats;
    case Kind::publish: {
        const PublishRequest& publish = command.publish;
        std::string text =
            "publish " + narrow(publish.package.native()) + " key=" + narrow(publish.keyFile.native()) +
            " manifest=" + narrow(publish.manifest.native()) + " exe=" + publish.executablePath +
            " version=" + publish.version + " url=" + publish.downloadUrl +
            " config=" + pathOf(publish.configFile) + " days=" + std::to_string(publish.expiresDays) +
            " sequence=" + (publish.sequence ? std::to_string(*publish.sequence) : "-");
        if (publish.launcher)
            text += " launcher=" + narrow(publish.launcher->executable.native()) + "@" +
                    publish.launcher->version + " from " + publish.launcher->downloadUrl;
        if (publish.legacyManifest) text += " legacy=" + pathOf(publish.legacyManifest);
        if (publish.store)
            text += " store=" + narrow(publish.store->folder.native()) + " at " + publish.store->url;
        return text + stats;
    }
    case Kind::renew: {
        const RenewRequest& renew = command.renew;
        return "renew key=" + narrow(renew.keyFile.native()) +
               " manifest=" + narrow(renew.manifest.native()) + " days=" + std::to_string(renew.expiresDays) +
               " sequence=" + (renew.sequence ? std::to_string(*renew.sequence) : "-") +
               " legacy=" + pathOf(renew.legacyManifest) + stats;
    }
    case Kind::verify: {
        const VerifyRequest& verify = command.verify;
        return "verify manifest=" + verify.manifestUrl.value_or("-") +
               " key=" + (verify.keyFile ? "file " + narrow(verify.keyFile->native()) : verify.publicKeyHex) +
               " config=" + pathOf(verify.configFile) +
               " previous=" + (verify.previousSequence ? std::to_string(*verify.previousSequence) : "-") +
               stats;
    }
    case Kind::prune: {
        std::string keep;
        for (const std::wstring& kept : command.prune.keep)
            keep += (keep.empty() ? "" : ",") + narrow(kept);
        return "prune " + narrow(command.prune.store.native()) + " keep=" + keep +
               (command.prune.dryRun ? " dry-run" : "") + stats;
    }
    }
    return "?";
}

std::string outcomeOf(const std::vector<std::wstring>& arguments) {
    try {
        return described(parseToolArguments(arguments));
    } catch (const UsageError& error) {
        return std::string("usage error: ") + error.what();
    }
}

TEST(ToolArguments, EachCommandLineMakesItsCommandOrNamesTheWrongUsage) {
    // The arguments publish needs, followed by those of a row.
    const auto publish = [](std::vector<std::wstring> more) {
        std::vector<std::wstring> arguments = {L"publish",    L"p.zip",  L"--key",        L"k.json",
                                               L"--manifest", L"m.json", L"--executable", L"T/g.exe",
                                               L"--version",  L"2",      L"--url",        L"https://x/p.zip"};
        arguments.insert(arguments.end(), more.begin(), more.end());
        return arguments;
    };
    const std::string published =
        "publish p.zip key=k.json manifest=m.json exe=T/g.exe version=2 url=https://x/p.zip";
    const std::wstring key(128, L'a');
    const std::string keyText(128, 'a');
    struct Case {
        std::vector<std::wstring> arguments;
        std::string expected;
    };
    const Case cases[] = {
        {{}, "usage error: no command given"},
        {{L"help"}, "help"},
        {{L"/?"}, "help"},
        {{L"pack", L"c", L"--help", L"--bogus"}, "help"},
        {{L"pack", L"--bogus", L"--help"}, "usage error: unknown option: --bogus"},
        {{L"unpack", L"c"}, "usage error: unknown command: unpack"},

        {{L"pack", L"c", L"o.zip", L"--executable", L"T/g.exe", L"--version", L"1"},
         "pack c -> o.zip exe=T/g.exe version=1 config=- url=- threads=0"},
        {{L"pack", L"--stats", L"c", L"--threads", L"1024", L"--version", L"1", L"--config", L"l.json",
          L"o.zip", L"--url", L"http://h/p.zip", L"--executable", L"T/g.exe"},
         "pack c -> o.zip exe=T/g.exe version=1 config=l.json url=http://h/p.zip threads=1024 stats"},
        {{L"pack", L"c", L"--executable", L"T/g.exe", L"--version", L"1"},
         "usage error: pack takes a client folder and a package file"},
        {{L"pack", L"c", L"o.zip", L"--executable", L"", L"--version", L"1"},
         "usage error: pack needs --executable"},
        {{L"pack", L"c", L"o.zip", L"--executable", L"T/g.exe"}, "usage error: pack needs --version"},
        {{L"pack", L"c", L"o.zip", L"--executable", L"T/g.exe", L"--version", L"1", L"--url",
          L"http://h/p.zip"},
         "usage error: --url goes with --config"},
        // New bytes under an unchanged address are what caches would serve wrongly: keeping it is said.
        {{L"pack", L"c", L"o.zip", L"--executable", L"T/g.exe", L"--version", L"1", L"--config", L"l.json"},
         "usage error: pack --config needs --url with the new package's address, or --keep-url to keep the "
         "configuration's clientPackage.downloadUrl"},
        {{L"pack", L"c", L"o.zip", L"--executable", L"T/g.exe", L"--version", L"1", L"--config", L"l.json",
          L"--keep-url", L"--json"},
         "pack c -> o.zip exe=T/g.exe version=1 config=l.json url=- threads=0 json"},
        {{L"pack", L"c", L"o.zip", L"--executable", L"T/g.exe", L"--version", L"1", L"--keep-url"},
         "usage error: --keep-url goes with --config"},
        {{L"pack", L"c", L"o.zip", L"--executable", L"T/g.exe", L"--version", L"1", L"--config", L"l.json",
          L"--keep-url", L"--url", L"http://h/p.zip"},
         "usage error: --url and --keep-url exclude each other"},
        {{L"pack", L"c", L"o.zip", L"--threads", L"1025"},
         "usage error: --threads needs a number from 1 to 1024"},
        {{L"pack", L"c", L"o.zip", L"--threads", L"0"},
         "usage error: --threads needs a number from 1 to 1024"},
        {{L"pack", L"c", L"o.zip", L"--executable"}, "usage error: --executable needs a value"},
        {{L"pack", L"c", L"o.zip", L"--key", L"k.json"}, "usage error: unknown option: --key"},

        {{L"check", L"p.zip"}, "check p.zip config=-"},
        {{L"check", L"--config", L"l.json", L"p.zip", L"--stats", L"--json"},
         "check p.zip config=l.json stats json"},
        {{L"check"}, "usage error: check takes one package file"},
        {{L"check", L"a.zip", L"b.zip"}, "usage error: check takes one package file"},
        {{L"check", L"p.zip", L"--threads", L"2"}, "usage error: unknown option: --threads"},
        {{L"check", L"p.zip", L"--store", L"S"}, "check p.zip config=- store=S index=-"},
        {{L"check", L"--index", L"S/indexes/i.index", L"p.zip", L"--json"},
         "check p.zip config=- store=- index=S/indexes/i.index json"},

        {{L"keygen", L"k.json"}, "keygen k.json"},
        {{L"keygen", L"--json", L"k.json"}, "keygen k.json json"},
        {{L"keygen"}, "usage error: keygen takes one key file"},
        {{L"keygen", L"k.json", L"--config", L"l.json"}, "usage error: unknown option: --config"},

        {publish({}), published + " config=- days=30 sequence=-"},
        {publish({L"--config", L"l.json", L"--expires-days", L"3650", L"--sequence", L"7", L"--launcher",
                  L"G.exe", L"--launcher-version", L"1.3.0", L"--launcher-url", L"https://x/G.exe",
                  L"--stats", L"--json"}),
         published +
             " config=l.json days=3650 sequence=7 launcher=G.exe@1.3.0 from https://x/G.exe stats json"},
        {{L"publish", L"--key", L"k.json"}, "usage error: publish takes one package file"},
        {{L"publish", L"p.zip", L"--manifest", L"m.json"}, "usage error: publish needs --key"},
        {{L"publish", L"p.zip", L"--key", L"k.json"}, "usage error: publish needs --manifest"},
        {{L"publish", L"p.zip", L"--key", L"k", L"--manifest", L"m"},
         "usage error: publish needs --executable"},
        {{L"publish", L"p.zip", L"--key", L"k", L"--manifest", L"m", L"--executable", L"e"},
         "usage error: publish needs --version"},
        {{L"publish", L"p.zip", L"--key", L"k", L"--manifest", L"m", L"--executable", L"e", L"--version",
          L"2"},
         "usage error: publish needs --url"},
        {publish({L"--expires-days", L"3651"}), "usage error: --expires-days needs a number from 1 to 3650"},
        {publish({L"--launcher", L"G.exe"}),
         "usage error: --launcher, --launcher-version and --launcher-url go together"},
        {publish({L"--launcher-version", L"1.3.0", L"--launcher-url", L"https://x/G.exe"}),
         "usage error: --launcher, --launcher-version and --launcher-url go together"},
        {publish({L"--launcher", L"G.exe", L"--launcher-version", L"1.3.0", L"--launcher-url", L""}),
         "usage error: --launcher, --launcher-version and --launcher-url go together"},
        {publish({L"--threads", L"2"}), "usage error: unknown option: --threads"},
        {publish({L"--legacy-manifest", L"manifest.json"}),
         published + " config=- days=30 sequence=- legacy=manifest.json"},
        {publish({L"--store", L"D:/Store", L"--store-url", L"https://cdn.x/store/"}),
         published + " config=- days=30 sequence=- store=D:/Store at https://cdn.x/store/"},
        {publish({L"--store", L"D:/Store"}), "usage error: --store and --store-url go together"},
        {publish({L"--store-url", L"https://cdn.x/store/"}),
         "usage error: --store and --store-url go together"},
        {publish({L"--store", L"D:/Store", L"--store-url", L"https://cdn.x/store"}),
         "usage error: --store-url needs an address ending in \"/\""},

        {{L"renew", L"--key", L"k.json", L"--manifest", L"m.signed"},
         "renew key=k.json manifest=m.signed days=30 sequence=- legacy=-"},
        {{L"renew", L"--manifest", L"m.signed", L"--expires-days", L"7", L"--sequence", L"12", L"--key",
          L"k.json", L"--legacy-manifest", L"manifest.json", L"--stats"},
         "renew key=k.json manifest=m.signed days=7 sequence=12 legacy=manifest.json stats"},
        {{L"renew", L"--manifest", L"m.signed"}, "usage error: renew needs --key"},
        {{L"renew", L"--key", L"k.json"}, "usage error: renew needs --manifest"},
        {{L"renew", L"m.signed", L"--key", L"k.json", L"--manifest", L"m.signed"},
         "usage error: renew takes no file but its options"},
        {{L"renew", L"--key", L"k.json", L"--manifest", L"m.signed", L"--config", L"l.json"},
         "usage error: unknown option: --config"},

        {{L"verify", L"--manifest-url", L"https://x/m.json", L"--public-key", key},
         "verify manifest=https://x/m.json key=" + keyText + " config=- previous=-"},
        {{L"verify", L"--stats", L"--key", L"k.json", L"--previous-sequence", L"12", L"--manifest-url",
          L"https://x/m.json", L"--config", L"l.json"},
         "verify manifest=https://x/m.json key=file k.json config=l.json previous=12 stats"},
        {{L"verify", L"--config", L"l.json"}, "verify manifest=- key= config=l.json previous=-"},
        {{L"verify"}, "verify manifest=- key= config=- previous=-"},
        {{L"verify", L"m.json", L"--config", L"l.json"},
         "usage error: verify takes no file: give --manifest-url or --config"},
        {{L"verify", L"--manifest-url", L"https://x/m.json"},
         "usage error: verify --manifest-url needs either --public-key or --key"},
        {{L"verify", L"--manifest-url", L"https://x/m.json", L"--public-key", key, L"--key", L"k.json"},
         "usage error: verify --manifest-url needs either --public-key or --key"},
        {{L"verify", L"--manifest-url", L"https://x/m.json", L"--public-key", key.substr(1)},
         "usage error: --public-key needs the 128 hexadecimal digits keygen prints"},
        {{L"verify", L"--config", L"l.json", L"--previous-sequence", L"3"},
         "usage error: --public-key, --key and --previous-sequence go with --manifest-url"},

        {{L"prune", L"--store", L"S", L"--keep", L"m.signed", L"--keep", L"0a1b", L"--dry-run", L"--json"},
         "prune S keep=m.signed,0a1b dry-run json"},
        {{L"prune", L"--keep", L"m.signed"}, "usage error: prune needs --store"},
        {{L"prune", L"--store", L"S"}, "usage error: prune needs --keep for each version to keep"},
        {{L"prune", L"S", L"--store", L"S", L"--keep", L"m.signed"},
         "usage error: prune takes no file but its options"},
        {{L"prune", L"--store", L"S", L"--keep", L"m.signed", L"--config", L"l.json"},
         "usage error: unknown option: --config"},
    };
    for (const Case& row : cases) {
        std::string line;
        for (const std::wstring& argument : row.arguments)
            line += " [" + narrow(argument) + "]";
        EXPECT_EQ(outcomeOf(row.arguments), row.expected) << line;
    }
}

} // namespace
} // namespace launcher
