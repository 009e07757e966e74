#pragma once

#include "foundation/cancel_token.h"
#include "pack/archive_writer.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace launcher {

// Where the client is headed and what it may hold: the launcher's limits for one configuration.
struct ClientRules {
    std::filesystem::path installDirectory; // absolute, normalised: where entry paths are measured
    std::uint64_t maxExtractBytes = 0;
};

// Everything in the client folder `root`, one entry per file and directory, sorted by the bytes of
// their UTF-8 names. Refuses, before anything is written, what the launcher would refuse once the
// package is downloaded: a link anywhere in the tree, too many entries, more bytes than
// `rules.maxExtractBytes`, a name the install's path rules refuse under `rules.installDirectory`,
// names equal but for letter case. Throws ToolRefusal naming the rule, the entry (or the folder)
// and the values compared, or Canceled.
std::vector<PackEntry> readClientFolder(const std::filesystem::path& root, const ClientRules& rules,
                                        const CancelToken& token);

} // namespace launcher
