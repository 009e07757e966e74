#pragma once

#include "foundation/cancel_token.h"
#include "pack/package_check.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace launcher {

struct PackRequest {
    std::filesystem::path clientFolder;
    std::filesystem::path output;
    std::string executablePath; // UTF-8, relative to the client folder
    std::string version;
    std::optional<std::filesystem::path> configFile;
    std::optional<std::string> downloadUrl; // none: the configuration keeps its own (--keep-url)
    unsigned threads = 0;                   // 0: one per processor
};

// Progress of a pack: the step, files and bytes done of their totals.
using PackProgress =
    std::function<void(const std::wstring& step, std::uint64_t files, std::uint64_t totalFiles,
                       std::uint64_t bytes, std::uint64_t totalBytes)>;

// Packs the client folder into the package file `output` so that the launcher, configured by
// `configFile` (or by its built-in configuration beside `toolDirectory`), accepts it: refuses the
// folder before writing anything when the launcher would refuse the package, writes a deterministic
// archive beside `output`, checks it with the launcher's reader and rules, then moves it into
// place and, with a configuration file, points that file at it. Throws ToolRefusal naming the rule,
// the file or entry and the values compared, or Canceled; no partial output is left behind.
PackageSummary packClient(const PackRequest& request, const std::filesystem::path& toolDirectory,
                          CancelToken& token, const PackProgress& progress);

} // namespace launcher
