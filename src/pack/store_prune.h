#pragma once

// gatehouse-pack prune: a content store brought down to the versions still named, removing the
// indexes of the others and every pack no kept index uses. Packs never change once published, so
// chunks of removed versions inside a kept pack stay there; the summary says how many bytes.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace launcher {

struct PruneRequest {
    std::filesystem::path store;
    // Each a signed manifest file (keeps the index its clientPackage names; the two-file form's
    // manifest too) or an index's digest, 64 hexadecimal digits.
    std::vector<std::wstring> keep;
    bool dryRun = false; // say what would be removed, and remove nothing
};

struct PruneSummary {
    std::vector<std::string> kept;    // the kept indexes: paths in the store, "/" between
    std::vector<std::string> removed; // the indexes, then the packs removed (or that would be)
    std::uint64_t freedBytes = 0;     // what they held
    std::uint64_t keptPackBytes = 0;
    std::uint64_t unusedBytes = 0; // inside kept packs, in chunks no kept index lists
};

// Refuses (ToolRefusal) before removing anything: an indexes or packs folder that is a directory
// link (store-link), a --keep that names no index in the store
// (prune-keep-missing), a manifest that cannot be read or names no index (prune-keep-manifest), a
// kept index that is damaged (as readStoredIndex refuses). Removes only files the store names
// "<digest>.index" in its indexes folder and "<digest>.pack" in its packs folder; never follows a
// link. Throws ToolRefusal store-remove naming a file it could not remove.
PruneSummary pruneContentStore(const PruneRequest& request);

} // namespace launcher
