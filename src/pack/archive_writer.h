#pragma once

#include "foundation/cancel_token.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace launcher {

// One file or directory of the client, in the order it goes into the archive.
struct PackEntry {
    std::string name;    // UTF-8, "/" separators, a directory ends in "/"
    std::wstring source; // the file on disk; empty for a directory
    std::uint64_t size = 0;
    bool directory = false;
};

// Called on the writing thread with the files finished and the file bytes read so far.
using ArchiveProgress = std::function<void(std::uint64_t files, std::uint64_t bytes)>;

struct ArchiveSummary {
    std::uint64_t bytes = 0;
    std::string sha256; // 64 upper-case hexadecimal digits
};

// Writes `entries` as a ZIP archive to the new file `target`, in their order. Files are deflated
// (raw deflate, level 6) on `threads` threads, or stored when deflating does not make them smaller
// (a large file is stored at once when samples of it do not shrink); the bytes do not depend on
// the thread count. Memory stays within a few buffers per thread: files
// too large to hold are deflated into temporary files beside `target`, removed when done. Throws
// Error, or Canceled once `token` is cancelled; `target` is then left for the caller to remove.
ArchiveSummary writeClientArchive(const std::vector<PackEntry>& entries, const std::filesystem::path& target,
                                  unsigned threads, CancelToken& token, const ArchiveProgress& progress);

} // namespace launcher
