#include "pack/published_manifest.h"

#include "foundation/error.h"
#include "foundation/file_io.h"
#include "foundation/text.h"
#include "pack/tool_refusal.h"

#include <system_error>

namespace launcher {
namespace {

constexpr std::uint64_t maxSignatureBytes = 4096;

void writeNamedFile(const std::filesystem::path& file, const std::string& bytes) {
    try {
        writeFileAtomically(file, bytes);
    } catch (...) {
        rethrowNamingFile(file, "manifest-write", "无法写入更新清单。");
    }
}

bool isPresent(const std::filesystem::path& file) {
    std::error_code error;
    return std::filesystem::exists(file, error) || error;
}

std::filesystem::path signatureFile(const std::filesystem::path& manifest) {
    return manifest.native() + L".sig";
}

// The sequence of a manifest that verifies with the key, or nothing: unreadable, unsigned, signed by
// another key or not a manifest, nothing vouches for its number.
std::optional<std::uint64_t> verifiedSequence(const SignedManifest& source, const std::string& publicKey) {
    if (!isSignedBy(source, publicKey)) return std::nullopt;
    try {
        return parseUpdateManifest(source.bytes).sequence;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// The signed file's halves, or nothing when it cannot be read or is damaged.
std::optional<SignedManifest> readSignedFile(const std::filesystem::path& file) {
    std::string bytes;
    try {
        bytes = readFileLimited(file, maxManifestEnvelopeBytes);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (isBareManifest(bytes))
        throw ToolRefusal(
            "此文件是两文件形式的更新清单（签名在 .sig 中），不能改写成签名清单；请把签名清单写到新文件，"
            "并用 --legacy-manifest 指定此文件。",
            aboutFile(file, "manifest-two-file-form",
                      "a signed manifest file (signature line, then the manifest)",
                      "a bare manifest whose signature is in .sig"));
    try {
        return splitManifestEnvelope(bytes);
    } catch (const Error&) {
        return std::nullopt;
    }
}

} // namespace

PublishedManifest readPublishedManifest(const ManifestFiles& files, const std::string& publicKey) {
    PublishedManifest previous;
    bool allVerified = true;
    const auto count = [&](const std::optional<SignedManifest>& source) {
        previous.exists = true;
        const std::optional<std::uint64_t> sequence =
            source ? verifiedSequence(*source, publicKey) : std::nullopt;
        allVerified = allVerified && sequence.has_value();
        if (sequence) previous.verifiedSequence = std::max(previous.verifiedSequence.value_or(0), *sequence);
        return sequence.has_value();
    };
    if (isPresent(files.signedFile)) {
        const std::optional<SignedManifest> source = readSignedFile(files.signedFile);
        if (count(source)) previous.current = source;
    }
    if (files.legacyManifest && isPresent(*files.legacyManifest)) {
        std::optional<SignedManifest> source;
        try {
            source = SignedManifest{readFileLimited(*files.legacyManifest, maxUpdateManifestBytes),
                                    readFileLimited(signatureFile(*files.legacyManifest), maxSignatureBytes)};
        } catch (const std::exception&) {
        }
        count(source);
    }
    if (!allVerified) previous.verifiedSequence.reset();
    return previous;
}

std::uint64_t nextManifestSequence(const PublishedManifest& previous,
                                   const std::optional<std::uint64_t>& requested,
                                   const std::filesystem::path& manifest) {
    // Launchers ignore a manifest numbered below the last one they accepted, so a number taken from a
    // file nobody vouches for could silence every later manifest; and two manifests must never share
    // a number.
    if (previous.exists && !previous.verifiedSequence && !requested)
        throw ToolRefusal(
            "已有的更新清单的签名无法用此密钥验证，无法确定新序号；请核对密钥，或用 --sequence 指定新序号。",
            aboutFile(manifest, "manifest-unverified", "a manifest whose signature verifies with the key",
                      "a signature that does not verify (another key, an edited or damaged manifest)"));
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

void writePublishedManifest(const ManifestFiles& files, const SignedManifest& signedManifest) {
    const std::string envelope = makeManifestEnvelope(signedManifest);
    if (files.legacyManifest) {
        // A crash between the two leaves a pair that does not verify, which launchers ignore.
        writeNamedFile(signatureFile(*files.legacyManifest), signedManifest.signature + "\n");
        writeNamedFile(*files.legacyManifest, signedManifest.bytes);
    }
    writeNamedFile(files.signedFile, envelope);
}

} // namespace launcher
