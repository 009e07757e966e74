#include "update/update_channel.h"

#include "filesystem/directory_links.h"
#include "foundation/diagnostic_log.h"
#include "foundation/error.h"
#include "foundation/file_io.h"
#include "foundation/text.h"
#include "net/http_transfer.h"
#include "net/sha256_hash.h"
#include "update/accepted_sequence.h"
#include "update/signed_manifest.h"
#include "update/update_signature.h"

#include <windows.h>

#include <algorithm>
#include <stdexcept>

namespace launcher {
namespace {

constexpr std::uint64_t maxSignatureBytes = 1024;

// Why a manifest is not followed, for the log; players see nothing of it.
struct Ignored : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A manifest whose signature verified: its number counts even when its package is no longer one
// this configuration accepts.
struct StoredManifest {
    std::string bytes;
    std::uint64_t sequence = 0;
    std::optional<AcceptedUpdate> usable;
};

std::string fetch(const std::wstring& url, std::uint64_t maxBytes, ULONGLONG deadline, CancelToken& token) {
    std::string body;
    HttpRequest request;
    request.url = url;
    request.maxBytes = maxBytes;
    request.updateChannel = true;
    request.deadline = deadline;
    httpTransfer(request, token,
                 [&](const std::uint8_t* bytes, std::uint32_t count) {
                     body.append(reinterpret_cast<const char*>(bytes), count);
                 },
                 {});
    return body;
}

std::wstring keyName(const std::string& publicKey) {
    return multiByteToUtf16(updateKeyFingerprint(publicKey), codePageUtf8);
}

// The file that keeps the last accepted manifest with its signature, named after the key that
// signed it, so that launchers of another operator on the same account keep their own.
std::filesystem::path storedManifestPath(const UpdateChannel& channel, const std::string& publicKey) {
    return channel.stateDirectory / (L"manifest-" + keyName(publicKey) + L".signed");
}

// The registry value that records the highest sequence accepted with a key.
std::wstring acceptedSequenceName(const std::string& publicKey) {
    return L"UpdateSequence-" + keyName(publicKey);
}

// Where earlier launchers kept the manifest and its signature, as two files.
std::filesystem::path legacyManifestPath(const UpdateChannel& channel, const std::string& publicKey) {
    return channel.stateDirectory / (L"manifest-" + keyName(publicKey) + L".json");
}

std::filesystem::path withSignatureSuffix(const std::filesystem::path& path) {
    return path.native() + L".sig";
}

std::optional<SignedManifest> readStoredFile(const UpdateChannel& channel, const std::string& publicKey) {
    std::error_code missing;
    const std::filesystem::path path = storedManifestPath(channel, publicKey);
    if (std::filesystem::exists(path, missing))
        return splitManifestEnvelope(readFileLimited(path, maxManifestEnvelopeBytes));
    const std::filesystem::path legacy = legacyManifestPath(channel, publicKey);
    if (!std::filesystem::exists(legacy, missing)) return std::nullopt;
    return SignedManifest{readFileLimited(legacy, maxUpdateManifestBytes),
                          readFileLimited(withSignatureSuffix(legacy), maxSignatureBytes)};
}

// The channel's key whose signature `source` carries. Throws Ignored when there is none.
const std::string& signingKey(const UpdateChannel& channel, const SignedManifest& source) {
    for (const std::string& key : channel.publicKeys)
        if (isSignedBy(source, key)) return key;
    throw Ignored("signature");
}

// While a launcher trusts two keys, a manifest signed by either moves the one number all of them
// share: the operator numbers the new key's manifests on from the old key's, so a manifest of the
// old key, replayed after the move, is below what was accepted. Recording the number under every
// key the build trusts lets the next build, trusting the new key alone, start from it too.
std::uint64_t recordedSequence(const UpdateChannel& channel) {
    std::uint64_t highest = 0;
    for (const std::string& key : channel.publicKeys)
        highest =
            std::max(highest, readAcceptedSequence(channel.sequenceRegistryKey, acceptedSequenceName(key)));
    return highest;
}

void recordSequence(const UpdateChannel& channel, std::uint64_t sequence) {
    for (const std::string& key : channel.publicKeys)
        if (!raiseAcceptedSequence(channel.sequenceRegistryKey, acceptedSequenceName(key), sequence))
            logEvent("update.sequence_not_recorded", {{"sequence", sequence}, {"key", keyName(key)}});
}

AcceptedUpdate withConfig(UpdateManifest manifest, const LauncherConfig& config) {
    LauncherConfig updated = configWithClientPackage(config, manifest.clientPackage);
    return AcceptedUpdate{std::move(manifest), std::move(updated)};
}

std::string packageVersion(const AcceptedUpdate& update) {
    return update.config.document["clientPackage"].value("version", "");
}

// The manifest kept under one key by an earlier run. One below the recorded sequence is a save that
// did not finish after a newer manifest was accepted, or one superseded by another key's: it is not
// followed.
std::optional<StoredManifest> loadStoredFor(const UpdateChannel& channel, const std::string& publicKey,
                                            const LauncherConfig& config, std::uint64_t recorded) {
    try {
        const std::optional<SignedManifest> source = readStoredFile(channel, publicKey);
        if (!source) return std::nullopt;
        signingKey(channel, *source);
        UpdateManifest manifest = parseUpdateManifest(source->bytes);
        StoredManifest stored{source->bytes, manifest.sequence, std::nullopt};
        try {
            if (manifest.sequence < recorded) throw Ignored("sequence");
            stored.usable = withConfig(std::move(manifest), config);
            logEvent("update.stored",
                     {{"sequence", stored.sequence}, {"version", packageVersion(*stored.usable)}});
        } catch (const std::exception& error) {
            logEvent("update.stored_ignored", {{"reason", error.what()}, {"sequence", stored.sequence}});
        }
        return stored;
    } catch (const std::exception& error) {
        logEvent("update.stored_ignored", {{"reason", error.what()}});
        return std::nullopt;
    }
}

// The highest-numbered manifest kept under any of the channel's keys.
std::optional<StoredManifest> loadStored(const UpdateChannel& channel, const LauncherConfig& config,
                                         std::uint64_t recorded) {
    if (channel.stateDirectory.empty()) return std::nullopt;
    std::optional<StoredManifest> best;
    for (const std::string& key : channel.publicKeys)
        if (std::optional<StoredManifest> stored = loadStoredFor(channel, key, config, recorded))
            if (!best || stored->sequence > best->sequence) best = std::move(stored);
    return best;
}

// Keeps an accepted manifest for runs without network, under the key that signed it; what the
// channel's keys kept before is superseded. A folder that cannot be used, or lies behind a
// directory link, only costs that: the recorded sequence still guards against rollback.
void keep(const UpdateChannel& channel, const std::string& signer, const SignedManifest& accepted,
          CancelToken& token) {
    if (channel.stateDirectory.empty()) return;
    try {
        rejectDirectoryLinks(channel.stateDirectory);
        std::filesystem::create_directories(channel.stateDirectory);
        writeFileAtomicallyWhenFree(storedManifestPath(channel, signer), makeManifestEnvelope(accepted),
                                    &token);
        for (const std::string& key : channel.publicKeys) {
            if (key != signer) ::DeleteFileW(storedManifestPath(channel, key).c_str());
            const std::filesystem::path legacy = legacyManifestPath(channel, key);
            ::DeleteFileW(withSignatureSuffix(legacy).c_str());
            ::DeleteFileW(legacy.c_str());
        }
    } catch (const Canceled&) {
        throw;
    } catch (const std::exception& error) {
        logEvent("update.store_failed", {{"reason", error.what()}});
    }
}

// What the manifest address serves: one signed file, or a bare manifest with its signature beside
// it. Throws what the transfer throws when the server cannot be reached.
struct Fetched {
    std::string body;
    std::optional<std::string> pairedSignature; // the two-file form's "<path>.sig"
};

Fetched fetchManifest(const UpdateChannel& channel, CancelToken& token) {
    const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(channel.checkLimit.count());
    Fetched fetched;
    fetched.body = fetch(channel.manifestUrl, maxManifestEnvelopeBytes, deadline, token);
    if (isBareManifest(fetched.body))
        fetched.pairedSignature =
            fetch(signatureAddressBeside(channel.manifestUrl), maxSignatureBytes, deadline, token);
    return fetched;
}

// The manifest fetched now, judged against the highest sequence accepted before. Throws Ignored or
// Error naming the reason for the log.
AcceptedUpdate judgeFetched(const UpdateChannel& channel, const LauncherConfig& config, std::int64_t now,
                            const SignedManifest& fetched, std::uint64_t highest,
                            const std::optional<StoredManifest>& stored) {
    signingKey(channel, fetched);
    AcceptedUpdate update = withConfig(parseUpdateManifest(fetched.bytes), config);
    const std::uint64_t sequence = update.manifest.sequence;
    if (sequence < highest) throw Ignored("sequence");
    // The publisher never signs two manifests with one number: another document under the number
    // already accepted is an old one presented again.
    if (stored && stored->sequence == sequence && stored->bytes != fetched.bytes) throw Ignored("sequence");
    if (update.manifest.expires <= now) throw Ignored("expired");
    return update;
}

} // namespace

std::optional<AcceptedUpdate> refreshUpdateManifest(const UpdateChannel& channel,
                                                    const LauncherConfig& config, std::int64_t now,
                                                    CancelToken& token) {
    if (channel.manifestUrl.empty()) return std::nullopt;
    const std::uint64_t recorded = recordedSequence(channel);
    const std::optional<StoredManifest> stored = loadStored(channel, config, recorded);
    const std::uint64_t highest = std::max(recorded, stored ? stored->sequence : 0);
    const std::optional<AcceptedUpdate> fallback = stored ? stored->usable : std::nullopt;

    Fetched served;
    try {
        served = fetchManifest(channel, token);
    } catch (const Canceled&) {
        throw;
    } catch (const std::exception& error) {
        // No network or no server: the last accepted manifest stands, however old, so that an
        // installed client stays playable.
        logEvent("update.unreachable", {{"reason", error.what()}});
        return fallback;
    }
    try {
        const SignedManifest fetched = served.pairedSignature
                                           ? SignedManifest{served.body, *served.pairedSignature}
                                           : splitManifestEnvelope(served.body);
        AcceptedUpdate update = judgeFetched(channel, config, now, fetched, highest, stored);
        const std::string& signer = signingKey(channel, fetched);
        if (!stored || stored->bytes != fetched.bytes) keep(channel, signer, fetched, token);
        recordSequence(channel, update.manifest.sequence);
        logEvent("update.accepted", {{"sequence", update.manifest.sequence},
                                     {"version", packageVersion(update)},
                                     {"expires", formatUtcTime(update.manifest.expires)},
                                     {"key", keyName(signer)}});
        return update;
    } catch (const Canceled&) {
        throw;
    } catch (const std::exception& error) {
        logEvent("update.refused", {{"reason", error.what()}, {"highest", highest}});
        return fallback;
    }
}

std::string updateKeyFingerprint(const std::string& publicKey) {
    std::string name = sha256Hex(publicKey.data(), publicKey.size()).substr(0, 16);
    for (char& digit : name)
        if (digit >= 'A' && digit <= 'F') digit = static_cast<char>(digit - 'A' + 'a');
    return name;
}

std::filesystem::path storedManifestPathForTesting(const UpdateChannel& channel,
                                                   const std::string& publicKey) {
    return storedManifestPath(channel, publicKey);
}

std::wstring acceptedSequenceNameForTesting(const std::string& publicKey) {
    return acceptedSequenceName(publicKey);
}

} // namespace launcher
