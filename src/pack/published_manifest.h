#pragma once

// The signed manifest where the publisher keeps it for upload: the one file launchers fetch, and,
// while launchers built before that file are still in use, also the two-file form they read (the
// manifest, and its signature as "<manifest>.sig"). publish and renew number a new manifest from
// what is there, and write both forms together.
#include "update/signed_manifest.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace launcher {

// The highest sequence a manifest gets: JSON readers that hold numbers as doubles stay exact.
inline constexpr std::uint64_t maxManifestSequence = std::uint64_t{1} << 53;

struct ManifestFiles {
    std::filesystem::path signedFile;                    // the signed manifest in one file
    std::optional<std::filesystem::path> legacyManifest; // the two-file form: this and "<this>.sig"
};

// What is already there.
struct PublishedManifest {
    bool exists = false;                           // a file at either place
    std::optional<std::uint64_t> verifiedSequence; // the highest, when every manifest there verifies
    std::optional<SignedManifest> current;         // the signed file, when it verifies
};

// The manifests at `files` and whether they verify with `publicKey`. Throws ToolRefusal when the signed
// file's place holds a bare manifest of the two-file form: writing the one file over it would cut off
// the launchers that read it.
PublishedManifest readPublishedManifest(const ManifestFiles& files, const std::string& publicKey);

// The new manifest's sequence: `requested`, which must be above a verified previous one, or one past
// it (1 when there is none). Throws ToolRefusal without `requested` when a manifest there does not verify,
// and past maxManifestSequence. `manifest` is named in the refusals.
std::uint64_t nextManifestSequence(const PublishedManifest& previous,
                                   const std::optional<std::uint64_t>& requested,
                                   const std::filesystem::path& manifest);

// Writes the signed file and, when asked, the two-file form, each file atomically; the signed file
// last. Throws ToolRefusal naming the file that could not be written.
void writePublishedManifest(const ManifestFiles& files, const SignedManifest& signedManifest);

} // namespace launcher
