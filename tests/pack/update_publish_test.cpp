// gatehouse-pack's keygen and publish: who may read the key file, the manifest's sequence and
// client package, and the launcher builds publish refuses to offer.
#include "config/build_identity.h"
#include "config/deployment.h"
#include "config/launcher_config.h"
#include "foundation/own_executable.h"
#include "foundation/resources.h"
#include "foundation/unique_handle.h"
#include "pack/tool_arguments.h"
#include "pack/update_publish.h"
#include "support/test_support.h"
#include "support/zip_writer.h"
#include "tool_refusal_text.h"
#include "update/signed_manifest.h"
#include "update/update_manifest.h"
#include "update/update_signature.h"

#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace launcher {
namespace {

using nlohmann::json;
using testing::TempDir;
namespace fs = std::filesystem;

const std::string executable = "TalvoPC/talvo-曜石纪元.exe";

// A package every launcher accepts, a few bytes long, and a request to publish it with the built-in
// configuration and a key of its own: for the rules of publish that do not depend on the package.
struct SmallPublish {
    TempDir dir;
    UpdateSigningKey key = createUpdateKeyFile(dir / L"update-key.json");
    PublishRequest request{.package = dir / L"TalvoPC.zip",
                           .keyFile = dir / L"update-key.json",
                           .manifest = dir / L"manifest.signed",
                           .executablePath = executable,
                           .version = "2026.12.3",
                           .downloadUrl = "https://download.example.com/TalvoPC.zip"};
    PublishSummary summary;

    SmallPublish() {
        testing::writeZip(request.package, {{.name = executable, .data = "MZ game"},
                                            {.name = "TalvoPC/talvo-曜石纪元_Data/level0", .data = "level"},
                                            {.name = "TalvoPC/UnityPlayer.dll", .data = "MZ player"}});
    }

    // "<no error>" once the manifest is written, or the refusal: "rule | file | expected | actual".
    std::string publish() {
        CancelToken token;
        return testing::refusalOf([&] { summary = publishUpdate(request, dir.path(), token, {}); });
    }

    // A manifest numbered `sequence` signed by `signer`: in one file where the next one goes, or in the
    // two-file form at `twoFiles`.
    void placeSignedManifest(std::uint64_t sequence, const UpdateSigningKey& signer,
                             const std::optional<fs::path>& twoFiles = std::nullopt) {
        UpdateManifest manifest{.sequence = sequence,
                                .expires = parseUtcTime("2030-01-01T00:00:00Z"),
                                .clientPackage = {{"sha256", std::string(64, 'A')}}};
        const std::string document = serializeUpdateManifest(manifest);
        const std::string signature = signUpdateMessage(signer, document);
        if (!twoFiles)
            return testing::writeBytes(request.manifest, makeManifestEnvelope({document, signature}));
        testing::writeBytes(*twoFiles, document);
        testing::writeBytes(twoFiles->native() + L".sig", signature + "\n");
    }
    SignedManifest published() const { return splitManifestEnvelope(testing::readBytes(request.manifest)); }
};

TEST(PublishingManifest, ClientPackageNamesOnlyThePackageNotTheSitesSettings) {
    SmallPublish publishing;
    const fs::path configFile = publishing.dir / configFileName;
    json document = json::parse(loadResourceBytes(builtinConfigResourceId));
    document["clientPackage"]["installDirectory"] = "D:/Games/Talvo";
    document["clientPackage"]["maxExtractBytes"] = 1 << 20;
    document["clientPackage"]["maxDownloadBytes"] = 1 << 20;
    testing::writeBytes(configFile, serializeConfigDocument(document));
    publishing.request.configFile = configFile;
    ASSERT_EQ(publishing.publish(), "<no error>");

    const json published = parseUpdateManifest(publishing.published().bytes).clientPackage;
    std::vector<std::string> members;
    for (const auto& [name, value] : published.items())
        members.push_back(name);
    EXPECT_EQ(members, (std::vector<std::string>{"downloadUrl", "executablePath", "sha256", "version"}));
    EXPECT_EQ(published["version"], "2026.12.3");
}

std::string sidText(PSID sid) {
    wchar_t* text = nullptr;
    if (!::ConvertSidToStringSidW(sid, &text)) return "<bad SID>";
    const UniqueLocalMemory<wchar_t> owner{text};
    return testing::narrow(text);
}

// The user this process runs as, as "S-1-...".
std::string currentUserSid() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
    const UniqueKernelHandle owner{token};
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> user(size);
    if (!::GetTokenInformation(token, TokenUser, user.data(), size, &size)) return {};
    return sidText(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid);
}

TEST(PublishingKeyFile, IsReadableByTheCurrentUserAloneWhateverTheFolderGrants) {
    TempDir dir;
    const fs::path keyFile = dir / L"update-key.json";
    createUpdateKeyFile(keyFile);

    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL dacl = nullptr;
    ASSERT_EQ(::GetNamedSecurityInfoW(keyFile.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                      nullptr, &dacl, nullptr, &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    const UniqueLocalMemory<void> owner{descriptor};
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(::GetSecurityDescriptorControl(descriptor, &control, &revision));
    ASSERT_NE(dacl, nullptr);
    std::vector<std::string> allowed; // whom each entry lets in; "denied" for any other kind of entry
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
        void* entry = nullptr;
        ASSERT_TRUE(::GetAce(dacl, index, &entry));
        const auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        allowed.push_back(ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE
                              ? sidText(const_cast<DWORD*>(&ace->SidStart))
                              : "denied");
    }
    ASSERT_FALSE(allowed.empty());
    if (testing::runningUnderWine()) {
        // Wine keeps no DACL for a file: it turns the one given at creation into Unix mode bits (the
        // user's entry becomes the owner's and the group's) and reports a DACL made from those bits,
        // never protected, always with an entry for SYSTEM. What it can show: the user is let in, and
        // everyone else is not (a key file written with the folder's DACL has an entry for everyone).
        std::printf("Wine reports the key file's DACL from its mode bits:");
        for (const std::string& sid : allowed)
            std::printf(" %s", sid.c_str());
        std::printf("\n");
        EXPECT_NE(std::find(allowed.begin(), allowed.end(), currentUserSid()), allowed.end());
        EXPECT_EQ(std::count(allowed.begin(), allowed.end(), "S-1-1-0"), 0) << "everyone may read the key";
        return;
    }
    EXPECT_TRUE(control & SE_DACL_PROTECTED) << "the folder's inheritable entries must not reach the file";
    EXPECT_EQ(allowed, std::vector<std::string>{currentUserSid()});
}

// A refusal "rule | expected | actual" with the file it names put in its place.
std::string namingFile(const std::string& refusal, const fs::path& file) {
    std::string text = refusal;
    return text.insert(text.find(" | ") + 3, testing::narrow(file.native()) + " | ");
}

TEST(PublishingSequence, ComesOnlyFromAManifestThatVerifiesAndNeverRepeatsOrPassesTwoToThe53) {
    const UpdateSigningKey stranger = generateUpdateSigningKey();
    constexpr std::uint64_t limit = std::uint64_t{1} << 53;
    const std::string refusedUnverified =
        "manifest-unverified | a manifest whose signature verifies with the key "
        "| a signature that does not verify "
        "(another key, an edited or damaged manifest)";
    const std::string pastTheLimit = "sequence-limit | at most 9007199254740992 | ";
    struct Case {
        const char* what;
        std::function<void(SmallPublish&)> previous;
        std::optional<std::uint64_t> requested;
        std::string expected; // the new sequence, or the refusal "rule | expected | actual"
    };
    const auto signedByKey = [](std::uint64_t sequence) {
        return [sequence](SmallPublish& publishing) {
            publishing.placeSignedManifest(sequence, publishing.key);
        };
    };
    const auto signedByStranger = [&](std::uint64_t sequence) {
        return
            [&, sequence](SmallPublish& publishing) { publishing.placeSignedManifest(sequence, stranger); };
    };
    const auto raised = [](SmallPublish& publishing) { // signed as 7, then edited to 70
        publishing.placeSignedManifest(7, publishing.key);
        std::string document = testing::readBytes(publishing.request.manifest);
        document.replace(document.find("\"sequence\": 7"), 13, "\"sequence\": 70");
        testing::writeBytes(publishing.request.manifest, document);
    };
    const Case cases[] = {
        {"first", [](SmallPublish&) {}, std::nullopt, "1"},
        {"first from a new machine", [](SmallPublish&) {}, 40, "40"},
        {"after a verified one", signedByKey(7), std::nullopt, "8"},
        {"given above a verified one", signedByKey(7), 20, "20"},
        {"given equal to a verified one", signedByKey(7), 7, "sequence-not-above | above 7 | --sequence 7"},
        {"given below a verified one", signedByKey(7), 3, "sequence-not-above | above 7 | --sequence 3"},
        {"after one signed by another key", signedByStranger(7), std::nullopt, refusedUnverified},
        {"given over one signed by another key", signedByStranger(500), 3, "3"},
        {"after an edited one", raised, std::nullopt, refusedUnverified},
        {"after a damaged one",
         [](SmallPublish& publishing) {
             publishing.placeSignedManifest(7, publishing.key);
             testing::writeBytes(publishing.request.manifest,
                                 testing::readBytes(publishing.request.manifest).substr(1));
         },
         std::nullopt, refusedUnverified},
        {"up to 2^53", signedByKey(limit - 1), std::nullopt, std::to_string(limit)},
        {"past 2^53", signedByKey(limit), std::nullopt, pastTheLimit + "one past 9007199254740992"},
        {"wrapping", signedByKey(UINT64_MAX), std::nullopt, pastTheLimit + "one past 18446744073709551615"},
        {"given past 2^53", [](SmallPublish&) {}, limit + 1, pastTheLimit + "--sequence 9007199254740993"},
    };
    for (const Case& rule : cases) {
        SCOPED_TRACE(rule.what);
        SmallPublish publishing;
        rule.previous(publishing);
        publishing.request.sequence = rule.requested;
        const std::string before =
            fs::exists(publishing.request.manifest) ? testing::readBytes(publishing.request.manifest) : "";
        const std::string outcome = publishing.publish();
        if (outcome != "<no error>") {
            EXPECT_EQ(outcome, namingFile(rule.expected, publishing.request.manifest));
            const std::string after = fs::exists(publishing.request.manifest)
                                          ? testing::readBytes(publishing.request.manifest)
                                          : "";
            EXPECT_EQ(after, before) << "a refusal writes nothing";
            continue;
        }
        const SignedManifest written = publishing.published();
        EXPECT_EQ(std::to_string(parseUpdateManifest(written.bytes).sequence), rule.expected);
        EXPECT_TRUE(isSignedBy(written, publishing.key.publicKeyHex));
    }
}

// Launchers built before the signed file read the manifest and "<manifest>.sig" instead. Written
// beside the signed file only when asked, that form counts for the number too; the signed file never
// replaces it.
TEST(PublishingForEarlierLaunchers, TwoFileFormIsWrittenOnlyWhenAskedAndNeverOverwrittenByTheSignedFile) {
    {
        SmallPublish publishing;
        ASSERT_EQ(publishing.publish(), "<no error>");
        EXPECT_EQ(testing::listNames(publishing.dir.path()),
                  (std::vector<std::wstring>{L"TalvoPC.zip", L"manifest.signed", L"update-key.json"}));
    }
    {
        SmallPublish publishing;
        const fs::path twoFiles = publishing.dir / L"manifest.json";
        publishing.placeSignedManifest(9, publishing.key, twoFiles);
        publishing.request.legacyManifest = twoFiles;
        ASSERT_EQ(publishing.publish(), "<no error>");
        const SignedManifest written = publishing.published();
        EXPECT_EQ(parseUpdateManifest(written.bytes).sequence, 10u) << "one past the two-file form's";
        EXPECT_EQ(testing::readBytes(twoFiles), written.bytes);
        EXPECT_TRUE(isSignedBy({written.bytes, testing::readBytes(twoFiles.native() + L".sig")},
                               publishing.key.publicKeyHex));
    }
    {
        SmallPublish publishing; // the earlier command line, --manifest naming the two-file form
        publishing.request.manifest = publishing.dir / L"manifest.json";
        publishing.placeSignedManifest(9, publishing.key, publishing.request.manifest);
        const std::string before = testing::readBytes(publishing.request.manifest);
        EXPECT_EQ(publishing.publish(),
                  "manifest-two-file-form | " + testing::narrow(publishing.request.manifest.native()) +
                      " | a signed manifest file (signature line, then the manifest) | a "
                      "bare manifest whose signature is in .sig");
        EXPECT_EQ(testing::readBytes(publishing.request.manifest), before);
    }
}

TEST(PublishingLauncher, OfferedBuildMustLookForThisKeysManifestsAndSayTheOfferedVersion) {
    // The demo's channel, trusting another key and then the demo's; version 99.0.0.0.
    const fs::path next = UPDATE_DEMO_NEXT_EXE;
    const fs::path demoKey = DEMO_UPDATE_KEY_FILE;
    // The keys the build trusts, as a refusal lists them.
    const auto trustedKeys = [](const fs::path& build) {
        const BuildIdentity identity = readBuildIdentity(build);
        std::string keys;
        for (const std::string& key : identity.channel->publicKeys)
            keys += (keys.empty() ? "" : ", ") + key;
        return keys;
    };
    struct Case {
        const char* what;
        fs::path executable;
        bool demoKeyFile; // otherwise a key of the test's own, which {key} stands for
        std::string version;
        std::string expected; // "<no error>", or the refusal "rule | expected | actual"
    };
    std::vector<Case> cases = {
        {"trusting this key among two", next, true, "99.0.0.0", "<no error>"},
        {"missing parts count as 0", next, true, "99", "<no error>"},
        {"another version", next, true, "98.0.0.0",
         "launcher-version | --launcher-version 98.0.0.0 | 99.0.0.0"},
        {"a fifth part", next, true, "99.0.0.0.1",
         "launcher-version | --launcher-version 99.0.0.0.1 | 99.0.0.0"},
        {"another key", next, false, "99.0.0.0", "launcher-key | {key} | " + trustedKeys(next)},
        // This test program: an executable with no update channel.
        {"no channel", ownExecutablePath(), true, "1.0",
         "launcher-update-channel | an update channel resource (RCDATA 103) | none"},
        {"not an executable", demoKey, true, "1.0",
         "launcher-resources | a launcher executable (Gatehouse.exe) | a file whose resources cannot be "
         "read"},
    };
#ifdef GATEHOUSE_UPDATES_OFF_EXE
    cases.push_back({"updates off", GATEHOUSE_UPDATES_OFF_EXE, true, "0.6.1",
                     "launcher-updates-off | a manifest address | none (updates off)"});
#endif
    for (const Case& offer : cases) {
        SCOPED_TRACE(offer.what);
        SmallPublish publishing;
        if (offer.demoKeyFile) publishing.request.keyFile = demoKey;
        publishing.request.launcher =
            LauncherOffer{.executable = offer.executable,
                          .version = offer.version,
                          .downloadUrl = "https://download.example.com/Gatehouse.exe"};
        const std::string outcome = publishing.publish();
        if (offer.expected == "<no error>") {
            ASSERT_EQ(outcome, "<no error>");
            EXPECT_EQ(publishing.summary.launcherManifestUrl,
                      "http://" + std::string(packageHostUtf8) +
                          "/K3ClientRes/exe/TalvoPC/update/manifest.signed");
            EXPECT_EQ(parseUpdateManifest(publishing.published().bytes).launcher->version, offer.version);
        } else {
            std::string expected = offer.expected;
            if (const std::size_t at = expected.find("{key}"); at != std::string::npos)
                expected.replace(at, 5, publishing.key.publicKeyHex);
            EXPECT_EQ(outcome, namingFile(expected, offer.executable));
            EXPECT_FALSE(fs::exists(publishing.request.manifest));
        }
    }
}

TEST(PublishingKeyFile, ProblemsNameTheFileAndTheFormKeygenWrites) {
    const std::string form =
        R"({"curve": "P-256", "privateKey": "<hex>", "publicKey": "<hex>"}, as keygen writes it)";
    struct Case {
        const char* what;
        std::optional<std::string> bytes; // none: no file
        std::string expected;             // "rule | expected | actual"
    };
    const Case cases[] = {
        {"missing", std::nullopt, "key-file | " + form + " | missing"},
        {"not JSON", "{\"curve\": \"P-256\",\n",
         "key-file | " + form +
             " | parse error at line 2, column 1: syntax error while "
             "parsing object key - unexpected end of input; expected "
             "string literal"},
        {"another curve", R"({"curve": "P-384", "privateKey": "00", "publicKey": "00"})",
         "key-file | " + form + " | curve \"P-384\""},
        {"no public key", R"({"curve": "P-256", "privateKey": "00"})",
         "key-file | " + form + " | no text member publicKey"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.what);
        SmallPublish publishing;
        publishing.request.keyFile = publishing.dir / L"other-key.json";
        if (row.bytes) testing::writeBytes(publishing.request.keyFile, *row.bytes);
        EXPECT_EQ(publishing.publish(), namingFile(row.expected, publishing.request.keyFile));
    }
}

TEST(ToolArguments, PublishTakesASequenceFrom1To2To53) {
    const auto sequenceOf = [](const wchar_t* text) -> std::string {
        try {
            const ToolCommand command = parseToolArguments(
                {L"publish", L"p.zip", L"--key", L"k", L"--manifest", L"m", L"--executable", L"e",
                 L"--version", L"1", L"--url", L"https://x/p.zip", L"--sequence", text});
            return std::to_string(command.publish.sequence.value());
        } catch (const UsageError& error) {
            return error.what();
        }
    };
    const std::string refusal = "--sequence needs a number from 1 to 9007199254740992";
    EXPECT_EQ(sequenceOf(L"1"), "1");
    EXPECT_EQ(sequenceOf(L"9007199254740992"), "9007199254740992");
    for (const wchar_t* wrong : {L"0", L"9007199254740993", L"18446744073709551617", L"-1", L"7x", L""})
        EXPECT_EQ(sequenceOf(wrong), refusal) << testing::narrow(wrong);
}

} // namespace
} // namespace launcher
