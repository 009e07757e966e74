#include "pack/manifest_renewal.h"

#include "foundation/error.h"
#include "foundation/utc_clock.h"
#include "pack/published_manifest.h"
#include "pack/tool_refusal.h"
#include "pack/update_publish.h"

namespace launcher {

UpdateManifest renewManifest(const RenewRequest& request) {
    const UpdateSigningKey key = readUpdateKeyFile(request.keyFile);
    const ManifestFiles files{.signedFile = request.manifest, .legacyManifest = request.legacyManifest};
    const PublishedManifest previous = readPublishedManifest(files, key.publicKeyHex);
    // Only what this key signed is signed again: an edited manifest must not gain a valid signature.
    if (!previous.current)
        throw ToolRefusal("没有可续期的更新清单，或其签名无法用此密钥验证；请核对密钥和清单文件。",
                          {.rule = "manifest-unverified",
                           .kind = RefusalSubject::file,
                           .subject = shownPath(request.manifest),
                           .expected = "a signed manifest file that verifies with the key",
                           .actual = previous.exists ? "a manifest that does not verify" : "no manifest"});
    const std::uint64_t sequence = nextManifestSequence(previous, request.sequence, request.manifest);
    const std::int64_t expires = currentUtcSeconds() + std::int64_t{request.expiresDays} * 86400;
    const std::string document = renumberUpdateManifest(previous.current->bytes, sequence, expires);
    writePublishedManifest(files, {document, signUpdateMessage(key, document)});
    return parseUpdateManifest(document);
}

} // namespace launcher
