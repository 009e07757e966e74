#include "pack/update_publish.h"

#include "config/build_identity.h"
#include "foundation/error.h"
#include "foundation/file_io.h"
#include "foundation/text.h"
#include "foundation/utc_clock.h"
#include "net/file_digest.h"
#include "pack/tool_config.h"

#include <system_error>

namespace launcher {
namespace {

using nlohmann::json;

constexpr std::uint64_t maxKeyFileBytes = 4096;
constexpr std::uint64_t maxLauncherBytes = std::uint64_t{1} << 30;

std::string fileDigest(const std::filesystem::path& file, std::uint64_t maxBytes) {
    if (std::filesystem::file_size(file) > maxBytes) throw Error("文件过大。");
    return sha256OfFile(file);
}

std::string namingFile(const std::filesystem::path& file) {
    return "：" + utf16ToUtf8(file.native());
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

// The offered build's manifest address. A build that looks for no manifest, or trusts another key,
// would never update again once players take it; one whose version differs from the offer would be
// offered to them again and again.
std::string checkedLauncherChannel(const LauncherOffer& offer, const std::string& publicKey) {
    const std::string where = namingFile(offer.executable);
    const BuildIdentity build = readBuildIdentity(offer.executable);
    if (!build.channel) throw Error("启动器文件没有内置的更新通道，玩家换用后将无法再更新" + where);
    if (build.channel->manifestUrl.empty())
        throw Error("启动器文件未开启更新（没有更新清单地址），玩家换用后将无法再更新" + where);
    if (!trustsKey(*build.channel, publicKey))
        throw Error("启动器文件信任的更新公钥与此密钥不符，玩家换用后将不再接受此后的清单" + where);
    if (!build.version) throw Error("启动器文件没有版本信息" + where);
    if (compareVersions(*build.version, offer.version) != 0)
        throw Error("启动器文件的版本 " + *build.version + " 与 --launcher-version " + offer.version +
                    " 不符" + where);
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
    UpdateSigningKey key = generateUpdateSigningKey();
    const json document = {
        {"curve", "P-256"}, {"privateKey", key.privateKeyHex}, {"publicKey", key.publicKeyHex}};
    writeNewFileAtomically(keyFile, document.dump(2) + "\n", FileAccess::currentUserOnly);
    return key;
}

UpdateSigningKey readUpdateKeyFile(const std::filesystem::path& keyFile) {
    const std::string invalid = "更新签名密钥文件无效：" + utf16ToUtf8(keyFile.native());
    std::string text;
    try {
        text = readFileLimited(keyFile, maxKeyFileBytes);
    } catch (const std::exception&) {
        throw Error(invalid);
    }
    const json document = json::parse(text, nullptr, false);
    if (!document.is_object() || document.value("curve", json()) != "P-256" ||
        !document.value("privateKey", json()).is_string() || !document.value("publicKey", json()).is_string())
        throw Error(invalid);
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
    const LauncherConfig applied =
        configWithClientPackage(config.effective, manifestClientPackage(request, std::string(64, '0')));
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
    writePublishedManifest(manifestFiles(request), {document, signUpdateMessage(key, document)});
    return summary;
}

} // namespace launcher
