#pragma once

// The publisher's side of the update channel: the signing key file, and a signed update manifest
// naming a checked client package (and optionally a launcher build).
#include "config/update_manifest.h"
#include "foundation/cancel_token.h"
#include "foundation/progress.h"
#include "net/update_signature.h"
#include "pack/package_check.h"

#include <filesystem>
#include <optional>
#include <string>

namespace launcher {

// Makes a key pair and writes it to `keyFile` as {"curve": "P-256", "privateKey": ..., "publicKey": ...}.
// Never replaces an existing file. Throws Error.
UpdateSigningKey createUpdateKeyFile(const std::filesystem::path& keyFile);

// The key pair in a file written by createUpdateKeyFile. Throws Error("更新签名密钥文件无效：<path>").
UpdateSigningKey readUpdateKeyFile(const std::filesystem::path& keyFile);

// A launcher build to offer alongside the client.
struct LauncherOffer {
    std::filesystem::path executable; // digested; the manifest names its digest
    std::string version;
    std::string downloadUrl;
};

struct PublishRequest {
    std::filesystem::path package;
    std::filesystem::path keyFile;
    std::filesystem::path manifest; // the signature goes beside it, with ".sig" appended
    std::string executablePath;     // UTF-8, relative to the install directory
    std::string version;
    std::string downloadUrl;
    std::optional<std::filesystem::path> configFile;
    unsigned expiresDays = 30;
    std::optional<LauncherOffer> launcher;
};

struct PublishSummary {
    UpdateManifest manifest;
    PackageSummary package;
};

// Checks the package as the launcher would with the manifest's client package applied to the
// configuration (`configFile`, or the built-in one beside `toolDirectory`), then writes the
// manifest, numbered one past the one already at `manifest`, and its signature by the key file's
// key, each atomically. Throws RefusedEntry, Error or Canceled; a refusal writes nothing.
PublishSummary publishUpdate(const PublishRequest& request, const std::filesystem::path& toolDirectory,
                             CancelToken& token, const ProgressCallback& progress);

} // namespace launcher
