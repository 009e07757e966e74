#pragma once

// The opt-in update channel: at start the launcher asks the operator's server for the signed
// update manifest, and the last one it accepted is kept for runs without network.
#include "config/launcher_config.h"
#include "foundation/cancel_token.h"
#include "foundation/utc_clock.h"
#include "update/update_manifest.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace launcher {

// Fixed in the executable: where the manifest lies and the keys whose signature it follows (one, or
// two while the operator moves to a new key). With no address the channel is off.
struct UpdateChannel {
    std::wstring manifestUrl;
    std::vector<std::string> publicKeys;  // ECDSA P-256, X‖Y in hexadecimal
    std::filesystem::path stateDirectory; // where the last accepted manifest is kept; empty: nowhere
    // Under HKEY_CURRENT_USER: the highest sequence accepted, one value per key (see accepted_sequence.h).
    std::wstring sequenceRegistryKey = L"Software\\K3Gatehouse";
    // The whole check, manifest, signature and every redirect of both together: it holds up the
    // client check at every start.
    std::chrono::milliseconds checkLimit{15000};
};

// A manifest in force and the configuration it makes: the configured one with its clientPackage.
struct AcceptedUpdate {
    UpdateManifest manifest;
    LauncherConfig config;
};

// The manifest to follow in this run. Fetches the manifest address: a signed manifest in one file
// (see signed_manifest.h), or a bare manifest whose signature lies at "<path>.sig", the two-file form
// of earlier deployments. Accepts it when the signature verifies with one of the channel's keys, the
// sequence is not below the highest one accepted before with any of them (kept in the registry and in
// the stored manifest; an equal sequence only for the same bytes), the manifest has not expired at
// `now` (seconds since 1970 UTC) and its client package passes the configuration's rules; an
// accepted manifest is stored and its sequence recorded for every key. Anything else is logged and
// ignored, and the last accepted manifest (checked again) is used, or none. Without an address
// nothing is read or fetched. Throws only Canceled.
std::optional<AcceptedUpdate> refreshUpdateManifest(const UpdateChannel& channel,
                                                    const LauncherConfig& config, std::int64_t now,
                                                    CancelToken& token);

// How the launcher names `publicKey` in its log and in what it keeps (the stored manifest's file name,
// the registry value): the first 16 hexadecimal digits of the SHA-256 of the key as written.
std::string updateKeyFingerprint(const std::string& publicKey);

// The file that keeps the last accepted manifest signed by `publicKey`.
std::filesystem::path storedManifestPathForTesting(const UpdateChannel& channel,
                                                   const std::string& publicKey);

// The registry value under the channel's key that records the highest sequence accepted with `publicKey`.
std::wstring acceptedSequenceNameForTesting(const std::string& publicKey);

} // namespace launcher
