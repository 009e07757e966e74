#pragma once

// Renewing a published update manifest: the same client package and launcher build under a new
// expiry and the next sequence, signed again, without the package at hand. Launchers stop following
// a manifest once it has expired.
#include "update/update_manifest.h"

#include <cstdint>
#include <filesystem>
#include <optional>

namespace launcher {

struct RenewRequest {
    std::filesystem::path keyFile;
    std::filesystem::path manifest; // the signed manifest, in one file, replaced
    unsigned expiresDays = 30;
    std::optional<std::uint64_t> sequence;
    std::optional<std::filesystem::path> legacyManifest; // also the two-file form, for earlier launchers
};

// Re-signs the manifest at `manifest`, which must verify with the key file's key, with an expiry
// `expiresDays` from now and the sequence publish would give (see nextManifestSequence), keeping
// every other member as it was; writes it as publish does. Returns the renewed manifest. Throws
// Error; a refusal writes nothing.
UpdateManifest renewManifest(const RenewRequest& request);

} // namespace launcher
