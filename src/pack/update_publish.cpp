#include "pack/update_publish.h"

#include "config/build_identity.h"
#include "foundation/error.h"
#include "foundation/file_io.h"
#include "foundation/text.h"
#include "foundation/utc_clock.h"
#include "net/file_digest.h"
#include "pack/tool_config.h"
#include "pack/tool_refusal.h"

#include <system_error>

namespace launcher {
namespace {

using nlohmann::json;

constexpr std::uint64_t maxKeyFileBytes = 4096;
constexpr std::uint64_t maxSignatureBytes = 4096;
constexpr std::uint64_t maxLauncherBytes = std::uint64_t{1} << 30;

std::string fileDigest(const std::filesystem::path& file, std::uint64_t maxBytes) {
    std::uint64_t size = 0;
    try {
        size = std::filesystem::file_size(file);
    } catch (...) {
        rethrowNamingFile(file, "launcher-file", "无法读取启动器文件。");
    }
    if (size > maxBytes)
        throw ToolRefusal("启动器文件过大。", {.rule = "launcher-file-size",
                                               .kind = RefusalSubject::file,
                                               .subject = shownPath(file),
                                               .expected = "at most " + byteCount(maxBytes),
                                               .actual = byteCount(size)});
    return sha256OfFile(file);
}

RefusalDetails aboutFile(const std::filesystem::path& file, std::string rule, std::string expected,
                         std::string actual) {
    return {.rule = std::move(rule),
            .kind = RefusalSubject::file,
            .subject = shownPath(file),
            .expected = std::move(expected),
            .actual = std::move(actual)};
}

std::string lowerCase(std::string text) {
    for (char& letter : text)
        if (letter >= 'A' && letter <= 'Z') letter = static_cast<char>(letter - 'A' + 'a');
    return text;
}

void writeNamedFile(const std::filesystem::path& file, const std::string& bytes) {
    try {
        writeFileAtomically(file, bytes);
    } catch (...) {
        rethrowNamingFile(file, "manifest-write", "无法写入更新清单。");
    }
}

// What is already published where the new manifest goes: whether there is a file, and its
// sequence when its signature beside it verifies with the publishing key.
struct PreviousManifest {
    bool exists = false;
    std::optional<std::uint64_t> verifiedSequence;
};

PreviousManifest previousManifest(const std::filesystem::path& manifest, const std::string& publicKey) {
    std::error_code error;
    if (!std::filesystem::exists(manifest, error) && !error) return {};
    PreviousManifest previous;
    previous.exists = true;
    try {
        const std::string document = readFileLimited(manifest, maxUpdateManifestBytes);
        const std::string signature = readFileLimited(manifest.native() + L".sig", maxSignatureBytes);
        if (isValidUpdateSignature(publicKey, document, signature))
            previous.verifiedSequence = parseUpdateManifest(document).sequence;
    } catch (const std::exception&) {
        // Unreadable, unsigned or not a manifest: nothing vouches for its number.
    }
    return previous;
}

// The new manifest's sequence. Launchers ignore a manifest numbered below the last one they
// accepted, so a number taken from a file nobody vouches for could silence every later manifest;
// and two manifests must never share a number.
std::uint64_t nextSequence(const PreviousManifest& previous, const std::optional<std::uint64_t>& requested,
                           const std::filesystem::path& manifest) {
    if (previous.exists && !previous.verifiedSequence && !requested)
        throw ToolRefusal(
            "已有的更新清单的签名无法用此密钥验证，无法确定新序号；请核对密钥，或用 --sequence 指定新序号。",
            aboutFile(manifest, "manifest-unverified", "a manifest whose .sig verifies with the key",
                      "a signature that does not verify (another key, an edited manifest, or no .sig)"));
    const std::uint64_t last = previous.verifiedSequence.value_or(0);
    if (requested && *requested <= last)
        throw ToolRefusal("新序号必须大于已有更新清单的序号。",
                          aboutFile(manifest, "sequence-not-above", "above " + std::to_string(last),
                                    "--sequence " + std::to_string(*requested)));
    if (requested ? *requested > maxManifestSequence : last >= maxManifestSequence)
        throw ToolRefusal("更新清单序号不能超过 2^53。",
                          aboutFile(manifest, "sequence-limit",
                                    "at most " + std::to_string(maxManifestSequence),
                                    requested ? "--sequence " + std::to_string(*requested)
                                              : "one past " + std::to_string(last)));
    return requested ? *requested : last + 1;
}

// The offered build's manifest address. A build that looks for no manifest, or trusts another key,
// would never update again once players take it; one whose version differs from the offer would be
// offered to them again and again.
std::string checkedLauncherChannel(const LauncherOffer& offer, const std::string& publicKey) {
    const std::filesystem::path& file = offer.executable;
    BuildIdentity build;
    try {
        build = readBuildIdentity(file);
    } catch (const Error&) {
        throw ToolRefusal("无法读取启动器文件的资源。",
                          aboutFile(file, "launcher-resources", "a launcher executable (Gatehouse.exe)",
                                    "a file whose resources cannot be read"));
    }
    if (!build.channel)
        throw ToolRefusal(
            "启动器文件没有内置的更新通道，玩家换用后将无法再更新。",
            aboutFile(file, "launcher-update-channel", "an update channel resource (RCDATA 103)", "none"));
    if (build.channel->manifestUrl.empty())
        throw ToolRefusal(
            "启动器文件未开启更新（没有更新清单地址），玩家换用后将无法再更新。",
            aboutFile(file, "launcher-updates-off", "a manifest address", "none (updates off)"));
    if (lowerCase(build.channel->publicKey) != lowerCase(publicKey))
        throw ToolRefusal("启动器文件信任的更新公钥与此密钥不符，玩家换用后将不再接受此后的清单。",
                          aboutFile(file, "launcher-key", publicKey, build.channel->publicKey));
    if (!build.version)
        throw ToolRefusal("启动器文件没有版本信息。",
                          aboutFile(file, "launcher-version", "--launcher-version " + offer.version, "none"));
    if (compareVersions(*build.version, offer.version) != 0)
        throw ToolRefusal(
            "启动器文件的版本与 --launcher-version 不符。",
            aboutFile(file, "launcher-version", "--launcher-version " + offer.version, *build.version));
    return build.channel->manifestUrl;
}

// What a manifest may say about the client: which package, and where its game starts. Install
// folder and size limits stay the site's own.
json manifestClientPackage(const PublishRequest& request, const std::string& sha256) {
    return {{"downloadUrl", request.downloadUrl},
            {"executablePath", request.executablePath},
            {"sha256", sha256},
            {"version", request.version}};
}

} // namespace

UpdateSigningKey createUpdateKeyFile(const std::filesystem::path& keyFile) {
    std::error_code error;
    if (std::filesystem::exists(keyFile, error))
        throw ToolRefusal("密钥文件已存在；keygen 从不覆盖已有的密钥。",
                          aboutFile(keyFile, "key-file-exists", "a new file", "a file already there"));
    UpdateSigningKey key = generateUpdateSigningKey();
    const json document = {
        {"curve", "P-256"}, {"privateKey", key.privateKeyHex}, {"publicKey", key.publicKeyHex}};
    try {
        writeNewFileAtomically(keyFile, document.dump(2) + "\n", FileAccess::currentUserOnly);
    } catch (...) {
        rethrowNamingFile(keyFile, "key-file", "无法写入密钥文件。");
    }
    return key;
}

namespace {

constexpr const char* keyFileForm = R"({"curve": "P-256", "privateKey": "<hex>", "publicKey": "<hex>"}, )"
                                    "as keygen writes it";

// What is wrong with a key file's document, or nothing.
std::string keyDocumentProblem(const json& document) {
    if (!document.is_object()) return std::string("a JSON ") + document.type_name();
    if (document.value("curve", json()) != "P-256") return "curve " + document.value("curve", json()).dump();
    for (const char* member : {"privateKey", "publicKey"})
        if (!document.value(member, json()).is_string()) return std::string("no text member ") + member;
    return {};
}

// The key pair in a file written by createUpdateKeyFile. Throws ToolRefusal key-file naming it.
UpdateSigningKey readUpdateKeyFile(const std::filesystem::path& keyFile) {
    const std::string invalid = "更新签名密钥文件无效。";
    std::error_code error;
    if (!std::filesystem::is_regular_file(keyFile, error))
        throw ToolRefusal(invalid, aboutFile(keyFile, "key-file", keyFileForm, "missing"));
    json document;
    try {
        document = json::parse(readFileLimited(keyFile, maxKeyFileBytes));
    } catch (...) {
        rethrowNamingFile(keyFile, "key-file", invalid, keyFileForm);
    }
    if (const std::string problem = keyDocumentProblem(document); !problem.empty())
        throw ToolRefusal(invalid, aboutFile(keyFile, "key-file", keyFileForm, problem));
    return UpdateSigningKey{.publicKeyHex = document["publicKey"].get<std::string>(),
                            .privateKeyHex = document["privateKey"].get<std::string>()};
}

} // namespace

PublishSummary publishUpdate(const PublishRequest& request, const std::filesystem::path& toolDirectory,
                             CancelToken& token, const ProgressCallback& progress) {
    const UpdateSigningKey key = readUpdateKeyFile(request.keyFile);
    PublishSummary summary;
    UpdateManifest& manifest = summary.manifest;
    // Refusals that need no reading of the package come first.
    manifest.sequence = nextSequence(previousManifest(request.manifest, key.publicKeyHex), request.sequence,
                                     request.manifest);
    if (request.launcher)
        summary.launcherManifestUrl = checkedLauncherChannel(*request.launcher, key.publicKeyHex);

    // Judged as launchers will run once they take the manifest: its install directory and limits.
    // A client package they would refuse is refused before the package is read.
    const ToolConfig config = loadToolConfig(request.configFile, toolDirectory);
    checkVersionText(request.version, "--version");
    checkPackageUrl(request.downloadUrl);
    LauncherConfig applied;
    try {
        applied =
            configWithClientPackage(config.effective, manifestClientPackage(request, std::string(64, '0')));
    } catch (...) {
        rethrowNamingFile(config.file.empty() ? L"(built-in configuration)" : config.file, "config-invalid",
                          "启动器会拒绝这个配置与新客户端包的组合。");
    }
    summary.package = checkClientPackage(request.package, applied, request.executablePath, false,
                                         std::nullopt, token, progress);
    throwIfCanceled(token);

    manifest.expires = currentUtcSeconds() + std::int64_t{request.expiresDays} * 86400;
    manifest.clientPackage = manifestClientPackage(request, summary.package.sha256);
    if (request.launcher)
        manifest.launcher =
            LauncherRelease{.version = request.launcher->version,
                            .downloadUrl = request.launcher->downloadUrl,
                            .sha256 = fileDigest(request.launcher->executable, maxLauncherBytes)};

    // What launchers will read back is checked before anything is written.
    const std::string document = serializeUpdateManifest(manifest);
    configWithClientPackage(config.effective, parseUpdateManifest(document).clientPackage);
    const std::string signature = signUpdateMessage(key, document);

    // A crash between the two leaves a pair that does not verify, which launchers ignore.
    writeNamedFile(request.manifest.native() + L".sig", signature + "\n");
    writeNamedFile(request.manifest, document);
    return summary;
}

} // namespace launcher
