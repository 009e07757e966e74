#include "pack/update_publish.h"

#include "foundation/error.h"
#include "foundation/file_io.h"
#include "foundation/text.h"
#include "install/update_channel.h"
#include "net/sha256_hash.h"
#include "pack/tool_config.h"

#include <system_error>

namespace launcher {
namespace {

using nlohmann::json;

constexpr std::uint64_t maxKeyFileBytes = 4096;
constexpr std::uint64_t maxLauncherBytes = std::uint64_t{1} << 30;

std::string fileDigest(const std::filesystem::path& file, std::uint64_t maxBytes) {
    const std::string bytes = readFileLimited(file, maxBytes);
    return sha256Hex(bytes.data(), bytes.size());
}

// The sequence number of the manifest already published at `manifest`, 0 when there is none.
// A file that is not a manifest is refused rather than numbered over: launchers that saw a
// higher number would ignore every manifest published after it.
std::uint64_t publishedSequence(const std::filesystem::path& manifest) {
    std::error_code error;
    if (!std::filesystem::exists(manifest, error)) return 0;
    try {
        return parseUpdateManifest(readFileLimited(manifest, maxUpdateManifestBytes)).sequence;
    } catch (const Error&) {
        throw Error("已有的更新清单无效，无法确定新序号：" + utf16ToUtf8(manifest.native()));
    }
}

} // namespace

UpdateSigningKey createUpdateKeyFile(const std::filesystem::path& keyFile) {
    UpdateSigningKey key = generateUpdateSigningKey();
    const json document = {
        {"curve", "P-256"}, {"privateKey", key.privateKeyHex}, {"publicKey", key.publicKeyHex}};
    writeNewFileAtomically(keyFile, document.dump(2) + "\n");
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
    ToolConfig config = loadToolConfig(request.configFile, toolDirectory);
    if (config.file.empty()) {
        // The built-in configuration stands for a file beside the tool.
        config.fileDocument = config.effective.document;
        config.file = config.effective.baseDirectory / configFileName;
    }
    const auto clientPackage = [&](const std::string& sha256) {
        return publishedDocument(config, request.downloadUrl, sha256, request.version, request.executablePath)
            .at("clientPackage");
    };

    // Judged as launchers will run once they take the manifest: its install directory and limits.
    // A client package they would refuse is refused before the package is read.
    const LauncherConfig applied =
        configWithClientPackage(config.effective, clientPackage(std::string(64, '0')));
    PublishSummary summary;
    summary.package = checkClientPackage(request.package, applied, request.executablePath, false,
                                         std::nullopt, token, progress);
    throwIfCanceled(token);

    UpdateManifest& manifest = summary.manifest;
    manifest.sequence = publishedSequence(request.manifest) + 1;
    manifest.expires = currentUtcSeconds() + std::int64_t{request.expiresDays} * 86400;
    manifest.clientPackage = clientPackage(summary.package.sha256);
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
    writeFileAtomically(request.manifest.native() + L".sig", signature + "\n");
    writeFileAtomically(request.manifest, document);
    return summary;
}

} // namespace launcher
