#pragma once

// The publisher's side of the update channel: the signing key file, and a signed update manifest
// naming a checked client package (and optionally a launcher build).
#include "foundation/cancel_token.h"
#include "foundation/progress.h"
#include "pack/package_check.h"
#include "pack/published_manifest.h"
#include "pack/store_publish.h"
#include "update/update_manifest.h"
#include "update/update_signature.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace launcher {

// Makes a key pair and writes it to `keyFile` as {"curve": "P-256", "privateKey": ..., "publicKey": ...},
// readable by the current user alone (a protected DACL granting only that user, set before the file
// takes its name). Never replaces an existing file. Throws ToolRefusal naming the file.
UpdateSigningKey createUpdateKeyFile(const std::filesystem::path& keyFile);

// The key pair in a file written by createUpdateKeyFile. Throws ToolRefusal (rule key-file) naming it.
UpdateSigningKey readUpdateKeyFile(const std::filesystem::path& keyFile);

// A launcher build to offer alongside the client. Its own resources must say `version` (compared
// as dotted numbers, missing parts 0) and an update channel trusting the publishing key.
struct LauncherOffer {
    std::filesystem::path executable; // digested; the manifest names its digest
    std::string version;
    std::string downloadUrl;
};

struct PublishRequest {
    std::filesystem::path package;
    std::filesystem::path keyFile;
    std::filesystem::path manifest; // the signed manifest, in one file
    std::string executablePath;     // UTF-8, relative to the install directory
    std::string version;
    std::string downloadUrl;
    std::optional<std::filesystem::path> configFile;
    unsigned expiresDays = 30;
    std::optional<std::uint64_t> sequence; // for a first publish from another machine
    std::optional<LauncherOffer> launcher;
    std::optional<std::filesystem::path> legacyManifest; // also the two-file form, for earlier launchers
    std::optional<StoreTarget> store;                    // also a content store, named by the manifest
};

struct PublishSummary {
    UpdateManifest manifest;
    PackageSummary package;
    std::string launcherManifestUrl; // where the offered launcher build looks for manifests
    std::optional<StorePublication> store;
};

// Checks the package as the launcher would with the manifest's client package applied to the
// configuration (`configFile`, or the built-in one beside `toolDirectory`), then writes the
// manifest signed by the key file's key at `manifest` in one file (and in the two-file form at
// `legacyManifest` when given), each file atomically. The manifest's clientPackage holds only
// downloadUrl, sha256, version and executablePath, and with a `store` the index its version was
// written into (publishToStore, after the package passed and before the manifest is written); the
// site's own settings stay the site's.
//
// Its sequence follows what is already at those places (see nextManifestSequence): one past the
// highest when every manifest there verifies with the key, 1 when there is none, or `sequence`.
//
// An offered launcher build is read as a data file and refused when it has no update channel, an
// empty manifest address, no key that is the key file's, or a version other than the offer's.
// Throws ToolRefusal naming the rule, the file and the values compared, or Canceled; a refusal
// writes nothing.
PublishSummary publishUpdate(const PublishRequest& request, const std::filesystem::path& toolDirectory,
                             CancelToken& token, const ProgressCallback& progress);

} // namespace launcher
