#pragma once

// The update manifest: a small signed JSON document on the operator's server that names the
// client package players should have now, and optionally a newer launcher. What it may say is
// checked here, without any platform call; its signature is checked by the caller.
//
//   {"sequence": 7, "expires": "2027-01-08T05:00:00Z",
//    "clientPackage": {...the configuration's members...},
//    "launcher": {"version": "1.3.0", "downloadUrl": "https://...", "sha256": "..."}}
#include "config/launcher_config.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace launcher {

inline constexpr std::size_t maxUpdateManifestBytes = 65536;

// A launcher build offered by the manifest. The digest is required: it is the only thing that
// vouches for an executable fetched over plain HTTP.
struct LauncherRelease {
    std::string version; // dotted numbers, such as "1.3.0"
    std::string downloadUrl;
    std::string sha256; // 64 hexadecimal digits
};

struct UpdateManifest {
    std::uint64_t sequence = 0;
    std::int64_t expires = 0; // seconds since 1970-01-01 UTC
    nlohmann::json clientPackage;
    std::optional<LauncherRelease> launcher;
};

// Reads a manifest document. Throws Error("更新清单无效。") for anything that is not one: over the
// size limit, not JSON, a member missing or of the wrong type, a malformed time or launcher entry.
// Does not judge the client package; see configWithClientPackage.
UpdateManifest parseUpdateManifest(std::string_view bytes);

// The document as the publishing tool writes it: keys sorted, two-space indent, raw UTF-8.
std::string serializeUpdateManifest(const UpdateManifest& manifest);

// A manifest document with another sequence and expiry, every other member as it was, written as
// serializeUpdateManifest writes. Throws Error("更新清单无效。") when `document` is not a manifest.
std::string renumberUpdateManifest(std::string_view document, std::uint64_t sequence, std::int64_t expires);

// The members of clientPackage a manifest decides; the install directory and the size limits stay
// the site's own.
inline constexpr const char* manifestPackageMembers[] = {"downloadUrl", "sha256", "version", "executablePath",
                                                         "index"};

// `config` with the manifest's manifestPackageMembers put into its clientPackage (others the
// manifest carries are ignored), validated as the configuration itself is. A manifest must name its
// package's digest. Throws the validation's Error, or Error("更新清单无效。") without a digest.
LauncherConfig configWithClientPackage(const LauncherConfig& config, const nlohmann::json& clientPackage);

// "2027-01-08T05:00:00Z" and back; only this exact form. Parsing throws Error("更新清单无效。").
std::int64_t parseUtcTime(std::string_view text);
std::string formatUtcTime(std::int64_t seconds);

// Compares dotted version numbers ("1.10.0" is newer than "1.9"; missing parts count as 0).
// Returns <0, 0 or >0. Text that is not dotted numbers compares as older than any version.
int compareVersions(std::string_view left, std::string_view right);

} // namespace launcher
