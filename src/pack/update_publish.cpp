#include "pack/update_publish.h"

#include "config/build_identity.h"
#include "foundation/error.h"
#include "foundation/file_io.h"
#include "foundation/text.h"
#include "foundation/utc_clock.h"
#include "net/file_digest.h"
#include "pack/published_manifest.h"
#include "pack/tool_config.h"
#include "pack/tool_refusal.h"
#include "update/chunk_index.h"

#include <system_error>

namespace launcher {
namespace {

using nlohmann::json;

constexpr std::uint64_t maxKeyFileBytes = 4096;
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

std::string lowerCase(std::string text) {
    for (char& letter : text)
        if (letter >= 'A' && letter <= 'Z') letter = static_cast<char>(letter - 'A' + 'a');
    return text;
}

bool trustsKey(const BuildChannel& channel, const std::string& publicKey) {
    for (const std::string& key : channel.publicKeys)
        if (lowerCase(key) == lowerCase(publicKey)) return true;
    return false;
}

std::string joinedKeys(const BuildChannel& channel) {
    std::string keys;
    for (const std::string& key : channel.publicKeys)
        keys += (keys.empty() ? "" : ", ") + key;
    return keys.empty() ? "none" : keys;
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
    if (!trustsKey(*build.channel, publicKey))
        throw ToolRefusal("启动器文件信任的更新公钥与此密钥不符，玩家换用后将不再接受此后的清单。",
                          aboutFile(file, "launcher-key", publicKey, joinedKeys(*build.channel)));
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

ManifestFiles manifestFiles(const PublishRequest& request) {
    return ManifestFiles{.signedFile = request.manifest, .legacyManifest = request.legacyManifest};
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

} // namespace

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

PublishSummary publishUpdate(const PublishRequest& request, const std::filesystem::path& toolDirectory,
                             CancelToken& token, const ProgressCallback& progress) {
    const UpdateSigningKey key = readUpdateKeyFile(request.keyFile);
    PublishSummary summary;
    UpdateManifest& manifest = summary.manifest;
    // Refusals that need no reading of the package come first.
    manifest.sequence = nextManifestSequence(readPublishedManifest(manifestFiles(request), key.publicKeyHex),
                                             request.sequence, request.manifest);
    if (request.launcher)
        summary.launcherManifestUrl = checkedLauncherChannel(*request.launcher, key.publicKeyHex);

    // Judged as launchers will run once they take the manifest: its install directory and limits.
    // A client package they would refuse is refused before the package is read.
    const ToolConfig config = loadToolConfig(request.configFile, toolDirectory);
    checkVersionText(request.version, "--version");
    checkPackageUrl(request.downloadUrl);
    if (request.store) checkStoreUrl(request.store->url);
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
    if (request.store) {
        summary.store =
            publishToStore(*request.store, request.package, request.version,
                           *parseStoreDigest(summary.package.sha256), summary.package.bytes, token, progress);
        manifest.clientPackage["index"] = storeIndexMember(*summary.store);
    }
    if (request.launcher)
        manifest.launcher =
            LauncherRelease{.version = request.launcher->version,
                            .downloadUrl = request.launcher->downloadUrl,
                            .sha256 = fileDigest(request.launcher->executable, maxLauncherBytes)};

    // What launchers will read back is checked before anything is written.
    const std::string document = serializeUpdateManifest(manifest);
    configWithClientPackage(config.effective, parseUpdateManifest(document).clientPackage);
    writePublishedManifest(manifestFiles(request), {document, signUpdateMessage(key, document)});
    return summary;
}

} // namespace launcher
