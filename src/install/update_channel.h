#pragma once

// The opt-in update channel: at start the launcher asks the operator's server for the signed
// update manifest, and the last one it accepted is kept for runs without network.
#include "config/launcher_config.h"
#include "config/update_manifest.h"
#include "foundation/cancel_token.h"

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
    std::filesystem::path stateDirectory; // where accepted manifests are kept
};

// A manifest in force and the configuration it makes: the configured one with its clientPackage.
struct AcceptedUpdate {
    UpdateManifest manifest;
    LauncherConfig config;
};

// The manifest to follow in this run. Fetches the manifest and its signature ("<path>.sig") and
// accepts them when the signature verifies with the channel's key, the sequence is not below the
// last accepted one, the manifest has not expired at `now` (seconds since 1970 UTC) and its client
// package passes the configuration's rules; an accepted manifest is stored. Anything else is
// logged and ignored, and the last accepted manifest (checked again) is used, or none. Without an
// address nothing is read or fetched. Throws only Canceled.
std::optional<AcceptedUpdate> refreshUpdateManifest(const UpdateChannel& channel,
                                                    const LauncherConfig& config, std::int64_t now,
                                                    CancelToken& token);

// Where the channel keeps its last accepted manifest; its signature lies beside it as "<name>.sig".
std::filesystem::path storedManifestPath(const UpdateChannel& channel);

// The system clock in seconds since 1970-01-01 UTC.
std::int64_t currentUtcSeconds();

} // namespace launcher
