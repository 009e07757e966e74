#pragma once

#include "config/launcher_config.h"
#include "foundation/cancel_token.h"
#include "foundation/progress.h"
#include "zip/zip_reader.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace launcher {

struct PackageSummary {
    std::uint64_t bytes = 0;   // of the package file
    std::uint64_t entries = 0; // files and directories
    std::uint64_t files = 0;
    std::uint64_t unpackedBytes = 0; // what an install writes
    std::string sha256;              // 64 upper-case hexadecimal digits
};

// Judges `package` as the launcher would after downloading it with `config`, short of installing:
// its size against clientPackage.maxDownloadBytes, the digest against clientPackage.sha256 when
// `compareDigest` (an empty one accepts any, as for HTTPS), every entry read, inflated and
// CRC-checked under the extraction's rules and limits with paths measured under
// measuredInstallDirectory, the marker the install would write, and the Unity layout at
// `executablePath` (UTF-8, relative to the install directory). Writes nothing. `knownDigest` spares
// reading the file once more when the caller has just digested it; refusals name the package as
// `shownAs` when it is given. Throws ToolRefusal naming the rule, the package or entry and the
// values compared, or Canceled.
PackageSummary checkClientPackage(const std::filesystem::path& package, const LauncherConfig& config,
                                  const std::string& executablePath, bool compareDigest,
                                  const std::optional<std::string>& knownDigest, CancelToken& token,
                                  const ProgressCallback& progress,
                                  const std::filesystem::path& shownAs = {});

// The package at `package` opened for reading, nobody writing it meanwhile, its ZIP directory read.
// Throws ToolRefusal (package-unreadable, package-not-zip) naming it as `shown`.
ZipReader openPackageArchive(const std::filesystem::path& package, const std::string& shown);

} // namespace launcher
