#pragma once

// One client file made ready for the archive by a compression worker: deflated, or left to be
// copied from its source when it is stored.
#include "foundation/cancel_token.h"
#include "foundation/unique_handle.h"
#include "pack/archive_writer.h"

#include <windows.h>
#include <zlib.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>

namespace launcher {

struct CompressedFile {
    std::uint32_t crc = 0;
    std::uint64_t compressedSize = 0;
    bool deflated = false;
    std::string bytes; // the data as written, when it fits in memory
    UniqueFile spill;  // the deflated data otherwise; deleted when closed
};

// What one worker thread keeps from file to file: a raw deflate stream, reset between files
// (making a fresh one for each of thousands of small files cost more than deflating them, and a
// reset stream writes the same bytes as a fresh one), and an input buffer. Used by one thread.
class FileCompressor {
public:
    FileCompressor(); // throws std::bad_alloc
    ~FileCompressor();
    FileCompressor(const FileCompressor&) = delete;
    FileCompressor& operator=(const FileCompressor&) = delete;

    // Reads the file of `entry` and makes it ready. A file up to inMemoryLimit is held in memory;
    // a larger one that deflates is deflated into the new temporary file `spillPath`; a stored one
    // is copied from its source by the writer. A directory needs nothing. Adds the bytes read to
    // `bytesRead`. Throws Error, or Canceled once `token` is cancelled.
    CompressedFile compress(const PackEntry& entry, const std::wstring& spillPath, const CancelToken& token,
                            std::atomic<std::uint64_t>& bytesRead);

private:
    z_stream& resetStream();
    CompressedFile compressInMemory(const PackEntry& entry, std::atomic<std::uint64_t>& bytesRead);
    CompressedFile compressLarge(const PackEntry& entry, const std::wstring& spillPath,
                                 const CancelToken& token, std::atomic<std::uint64_t>& bytesRead);
    bool worthDeflating(HANDLE file, const PackEntry& entry);
    std::pair<std::uint32_t, std::uint64_t> deflateSource(HANDLE file, const PackEntry& entry, HANDLE& spill,
                                                          const CancelToken& token,
                                                          std::atomic<std::uint64_t>* bytesRead);

    z_stream stream_{};
    std::string input_;
};

} // namespace launcher
