#pragma once

// The archive file, written once from start to end through one buffer and digested on the way:
// each entry's local header and data in the order they come, then the central directory.
#include "foundation/cancel_token.h"
#include "foundation/unique_handle.h"
#include "net/sha256_hash.h"
#include "pack/archive_writer.h"
#include "pack/file_compression.h"
#include "pack/zip_layout.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string_view>
#include <vector>

namespace launcher {

class ArchiveOutput {
public:
    // Creates the new file `target`. Throws Error("无法创建安装包文件，请检查目录权限。").
    explicit ArchiveOutput(const std::filesystem::path& target);

    // Appends `entry` with its data as the compression worker made it ready: held in memory, in
    // its temporary file, or copied from its source when stored. Throws Error, or Canceled once
    // `token` is cancelled.
    void addEntry(const PackEntry& entry, const CompressedFile& file, const CancelToken& token);

    // Writes the central directory and the end records, makes the file durable and closes it.
    // Throws Error("无法写入安装包，请检查磁盘空间。").
    ArchiveSummary finish();

private:
    void write(const char* bytes, std::size_t count);
    void write(std::string_view bytes) { write(bytes.data(), bytes.size()); }
    void flush();
    void copyStored(const PackEntry& entry, const CancelToken& token);
    void copySpill(HANDLE spill, std::uint64_t size, const CancelToken& token);

    UniqueFile file_;
    std::unique_ptr<char[]> buffer_;
    std::size_t used_ = 0;
    std::uint64_t offset_ = 0;
    Sha256Hash hash_;
    std::vector<ZipRecord> records_;
};

} // namespace launcher
