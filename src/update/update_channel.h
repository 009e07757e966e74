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

namespace launcher {

// Fixed in the executable: where the manifest lies and the key that must have signed it. With no
// address the channel is off.
struct UpdateChannel {
    std::wstring manifestUrl;
    std::string publicKeyHex;             // ECDSA P-256, X‖Y in hexadecimal
    std::filesystem::path stateDirectory; // where the last accepted manifest is kept; empty: nowhere
    // Under HKEY_CURRENT_USER: the highest sequence accepted with each key (see accepted_sequence.h).
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

// The manifest to follow in this run. Fetches the manifest and its signature ("<path>.sig") and
// accepts them when the signature verifies with the channel's key, the sequence is not below the
// highest one accepted before (kept in the registry and in the stored manifest; an equal sequence
// only for the same bytes), the manifest has not expired at `now` (seconds since 1970 UTC) and
// its client package passes the configuration's rules; an accepted manifest is stored and its
// sequence recorded. Anything else is logged and ignored, and the last accepted manifest (checked
// again) is used, or none. Without an address nothing is read or fetched. Throws only Canceled.
std::optional<AcceptedUpdate> refreshUpdateManifest(const UpdateChannel& channel,
                                                    const LauncherConfig& config, std::int64_t now,
                                                    CancelToken& token);

// The file that keeps the last accepted manifest with its signature.
std::filesystem::path storedManifestPathForTesting(const UpdateChannel& channel);

// The registry value under the channel's key that records its highest accepted sequence.
std::wstring acceptedSequenceNameForTesting(const UpdateChannel& channel);

} // namespace launcher
