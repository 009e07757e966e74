#include "install/update_channel.h"

#include "foundation/diagnostic_log.h"
#include "foundation/error.h"
#include "foundation/file_io.h"
#include "foundation/text.h"
#include "net/http_transfer.h"
#include "net/sha256_hash.h"
#include "net/update_signature.h"

#include <windows.h>

#include <stdexcept>

namespace launcher {
namespace {

constexpr std::uint64_t maxSignatureBytes = 1024;

// Why a manifest is not followed, for the log; players see nothing of it.
struct Ignored : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct SignedManifest {
    std::string bytes;
    std::string signature;
};

// The signature lies beside the manifest: the same address with ".sig" after the path.
std::wstring signatureUrl(const std::wstring& manifestUrl) {
    const std::size_t query = std::min(manifestUrl.find(L'?'), manifestUrl.size());
    return manifestUrl.substr(0, query) + L".sig" + manifestUrl.substr(query);
}

std::string fetch(const std::wstring& url, std::uint64_t maxBytes, CancelToken& token) {
    std::string body;
    HttpRequest request;
    request.url = url;
    request.maxBytes = maxBytes;
    request.updateChannel = true;
    httpTransfer(request, token,
                 [&](const std::uint8_t* bytes, std::uint32_t count) {
                     body.append(reinterpret_cast<const char*>(bytes), count);
                 },
                 {});
    return body;
}

std::filesystem::path withSignatureSuffix(const std::filesystem::path& path) {
    return path.native() + L".sig";
}

// Checks a signed manifest as far as it can be checked without knowing which is the newest.
// Throws Error naming the reason for the log.
AcceptedUpdate acceptSigned(const UpdateChannel& channel, const LauncherConfig& config,
                            const SignedManifest& source) {
    if (!isValidUpdateSignature(channel.publicKeyHex, source.bytes, source.signature))
        throw Ignored("signature");
    UpdateManifest manifest = parseUpdateManifest(source.bytes);
    LauncherConfig updated = configWithClientPackage(config, manifest.clientPackage);
    return AcceptedUpdate{std::move(manifest), std::move(updated)};
}

std::optional<AcceptedUpdate> loadStored(const UpdateChannel& channel, const LauncherConfig& config,
                                         const std::filesystem::path& path) {
    std::error_code missing;
    if (!std::filesystem::exists(path, missing)) return std::nullopt;
    try {
        const SignedManifest stored{readFileLimited(path, maxUpdateManifestBytes),
                                    readFileLimited(withSignatureSuffix(path), maxSignatureBytes)};
        AcceptedUpdate update = acceptSigned(channel, config, stored);
        logEvent("update.stored",
                 {{"sequence", update.manifest.sequence},
                  {"version", update.config.document["clientPackage"].value("version", "")}});
        return update;
    } catch (const std::exception& error) {
        logEvent("update.stored_ignored", {{"reason", error.what()}});
        return std::nullopt;
    }
}

} // namespace

std::optional<AcceptedUpdate> refreshUpdateManifest(const UpdateChannel& channel,
                                                    const LauncherConfig& config, std::int64_t now,
                                                    CancelToken& token) {
    if (channel.manifestUrl.empty()) return std::nullopt;
    // Without a place to keep it (no local application data), every run starts from nothing.
    const bool keeps = !channel.stateDirectory.empty();
    const std::filesystem::path storedPath = keeps ? storedManifestPath(channel) : std::filesystem::path();
    std::optional<AcceptedUpdate> stored;
    if (keeps) stored = loadStored(channel, config, storedPath);

    SignedManifest fetched;
    try {
        fetched.bytes = fetch(channel.manifestUrl, maxUpdateManifestBytes, token);
        fetched.signature = fetch(signatureUrl(channel.manifestUrl), maxSignatureBytes, token);
    } catch (const Canceled&) {
        throw;
    } catch (const std::exception& error) {
        // No network or no server: the last accepted manifest stands, however old, so that an
        // installed client stays playable.
        logEvent("update.unreachable", {{"reason", error.what()}});
        return stored;
    }
    try {
        AcceptedUpdate update = acceptSigned(channel, config, fetched);
        if (stored && update.manifest.sequence < stored->manifest.sequence) throw Ignored("sequence");
        if (update.manifest.expires <= now) throw Ignored("expired");
        const bool same = stored && update.manifest.sequence == stored->manifest.sequence &&
                          readFileLimited(storedPath, maxUpdateManifestBytes) == fetched.bytes;
        if (keeps && !same) {
            std::filesystem::create_directories(channel.stateDirectory);
            writeFileAtomically(withSignatureSuffix(storedPath), fetched.signature);
            writeFileAtomically(storedPath, fetched.bytes);
        }
        logEvent("update.accepted",
                 {{"sequence", update.manifest.sequence},
                  {"version", update.config.document["clientPackage"].value("version", "")},
                  {"expires", formatUtcTime(update.manifest.expires)}});
        return update;
    } catch (const Canceled&) {
        throw;
    } catch (const std::exception& error) {
        logEvent("update.refused",
                 {{"reason", error.what()}, {"stored", stored ? stored->manifest.sequence : 0}});
        return stored;
    }
}

// Named after the key, so launchers of another operator on the same account keep their own.
std::filesystem::path storedManifestPath(const UpdateChannel& channel) {
    const std::string key = sha256Hex(channel.publicKeyHex.data(), channel.publicKeyHex.size()).substr(0, 16);
    return channel.stateDirectory /
           (L"manifest-" + toLowerCase(multiByteToUtf16(key, codePageUtf8)) + L".json");
}

std::int64_t currentUtcSeconds() {
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    const std::uint64_t ticks = (std::uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
    // FILETIME counts 100 ns from 1601-01-01.
    return static_cast<std::int64_t>(ticks / 10000000) - 11644473600LL;
}

} // namespace launcher
