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

// The signature lies beside the manifest: the same address with ".sig" after the path.
std::wstring signatureUrl(const std::wstring& manifestUrl) {
    const std::size_t query = std::min(manifestUrl.find(L'?'), manifestUrl.size());
    return manifestUrl.substr(0, query) + L".sig" + manifestUrl.substr(query);
}

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

std::wstring keyName(const UpdateChannel& channel) {
    const std::string key = sha256Hex(channel.publicKeyHex.data(), channel.publicKeyHex.size()).substr(0, 16);
    return toLowerCase(multiByteToUtf16(key, codePageUtf8));
}

// The file that keeps the last accepted manifest with its signature, named after the key so that
// launchers of another operator on the same account keep their own.
std::filesystem::path storedManifestPath(const UpdateChannel& channel) {
    return channel.stateDirectory / (L"manifest-" + keyName(channel) + L".signed");
}

// The registry value under the channel's key that records its highest accepted sequence.
std::wstring acceptedSequenceName(const UpdateChannel& channel) {
    return L"UpdateSequence-" + keyName(channel);
}

// Where earlier launchers kept the manifest and its signature, as two files.
std::filesystem::path legacyManifestPath(const UpdateChannel& channel) {
    return channel.stateDirectory / (L"manifest-" + keyName(channel) + L".json");
}

std::filesystem::path withSignatureSuffix(const std::filesystem::path& path) {
    return path.native() + L".sig";
}

std::optional<SignedManifest> readStoredFile(const UpdateChannel& channel) {
    std::error_code missing;
    const std::filesystem::path path = storedManifestPath(channel);
    if (std::filesystem::exists(path, missing))
        return splitManifestEnvelope(readFileLimited(path, maxManifestEnvelopeBytes));
    const std::filesystem::path legacy = legacyManifestPath(channel);
    if (!std::filesystem::exists(legacy, missing)) return std::nullopt;
    return SignedManifest{readFileLimited(legacy, maxUpdateManifestBytes),
                          readFileLimited(withSignatureSuffix(legacy), maxSignatureBytes)};
}

UpdateManifest verifiedManifest(const UpdateChannel& channel, const SignedManifest& source) {
    if (!isValidUpdateSignature(channel.publicKeyHex, source.bytes, source.signature))
        throw Ignored("signature");
    return parseUpdateManifest(source.bytes);
}

AcceptedUpdate withConfig(UpdateManifest manifest, const LauncherConfig& config) {
    LauncherConfig updated = configWithClientPackage(config, manifest.clientPackage);
    return AcceptedUpdate{std::move(manifest), std::move(updated)};
}

std::string packageVersion(const AcceptedUpdate& update) {
    return update.config.document["clientPackage"].value("version", "");
}

// The manifest kept by an earlier run. One below the recorded sequence is a save that did not
// finish after a newer manifest was accepted: it is not followed.
std::optional<StoredManifest> loadStored(const UpdateChannel& channel, const LauncherConfig& config,
                                         std::uint64_t recorded) {
    if (channel.stateDirectory.empty()) return std::nullopt;
    try {
        const std::optional<SignedManifest> source = readStoredFile(channel);
        if (!source) return std::nullopt;
        UpdateManifest manifest = verifiedManifest(channel, *source);
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

// Keeps an accepted manifest for runs without network. A folder that cannot be used, or lies
// behind a directory link, only costs that: the recorded sequence still guards against rollback.
void keep(const UpdateChannel& channel, const SignedManifest& accepted, CancelToken& token) {
    if (channel.stateDirectory.empty()) return;
    try {
        rejectDirectoryLinks(channel.stateDirectory);
        std::filesystem::create_directories(channel.stateDirectory);
        writeFileAtomicallyWhenFree(storedManifestPath(channel), makeManifestEnvelope(accepted), &token);
        const std::filesystem::path legacy = legacyManifestPath(channel);
        ::DeleteFileW(withSignatureSuffix(legacy).c_str());
        ::DeleteFileW(legacy.c_str());
    } catch (const Canceled&) {
        throw;
    } catch (const std::exception& error) {
        logEvent("update.store_failed", {{"reason", error.what()}});
    }
}

// The manifest fetched now, judged against the highest sequence accepted before. Throws Ignored or
// Error naming the reason for the log.
AcceptedUpdate judgeFetched(const UpdateChannel& channel, const LauncherConfig& config, std::int64_t now,
                            const SignedManifest& fetched, std::uint64_t highest,
                            const std::optional<StoredManifest>& stored) {
    AcceptedUpdate update = withConfig(verifiedManifest(channel, fetched), config);
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
    const std::wstring sequenceName = acceptedSequenceName(channel);
    const std::uint64_t recorded = readAcceptedSequence(channel.sequenceRegistryKey, sequenceName);
    const std::optional<StoredManifest> stored = loadStored(channel, config, recorded);
    const std::uint64_t highest = std::max(recorded, stored ? stored->sequence : 0);
    const std::optional<AcceptedUpdate> fallback = stored ? stored->usable : std::nullopt;

    SignedManifest fetched;
    try {
        const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(channel.checkLimit.count());
        fetched.bytes = fetch(channel.manifestUrl, maxUpdateManifestBytes, deadline, token);
        fetched.signature = fetch(signatureUrl(channel.manifestUrl), maxSignatureBytes, deadline, token);
    } catch (const Canceled&) {
        throw;
    } catch (const std::exception& error) {
        // No network or no server: the last accepted manifest stands, however old, so that an
        // installed client stays playable.
        logEvent("update.unreachable", {{"reason", error.what()}});
        return fallback;
    }
    try {
        AcceptedUpdate update = judgeFetched(channel, config, now, fetched, highest, stored);
        if (!stored || stored->bytes != fetched.bytes) keep(channel, fetched, token);
        if (!raiseAcceptedSequence(channel.sequenceRegistryKey, sequenceName, update.manifest.sequence))
            logEvent("update.sequence_not_recorded", {{"sequence", update.manifest.sequence}});
        logEvent("update.accepted", {{"sequence", update.manifest.sequence},
                                     {"version", packageVersion(update)},
                                     {"expires", formatUtcTime(update.manifest.expires)}});
        return update;
    } catch (const Canceled&) {
        throw;
    } catch (const std::exception& error) {
        logEvent("update.refused", {{"reason", error.what()}, {"highest", highest}});
        return fallback;
    }
}

std::filesystem::path storedManifestPathForTesting(const UpdateChannel& channel) {
    return storedManifestPath(channel);
}

std::wstring acceptedSequenceNameForTesting(const UpdateChannel& channel) {
    return acceptedSequenceName(channel);
}

} // namespace launcher
