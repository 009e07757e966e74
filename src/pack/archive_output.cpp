#include "pack/archive_output.h"

#include "foundation/error.h"
#include "pack/client_file_io.h"

#include <windows.h>

#include <algorithm>

namespace launcher {

ArchiveOutput::ArchiveOutput(const std::filesystem::path& target)
    : file_(::CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                          nullptr)),
      buffer_(std::make_unique<char[]>(packChunkBytes)) {
    if (!file_) throw Error("无法创建安装包文件，请检查目录权限。");
}

void ArchiveOutput::addEntry(const PackEntry& entry, const CompressedFile& file, const CancelToken& token) {
    const ZipRecord& record = records_.emplace_back(ZipRecord{.name = entry.name,
                                                              .crc = file.crc,
                                                              .compressedSize = file.compressedSize,
                                                              .size = entry.size,
                                                              .headerOffset = offset_,
                                                              .deflated = file.deflated,
                                                              .directory = entry.directory});
    write(zipLocalHeader(record));
    if (file.spill)
        copySpill(file.spill.get(), file.compressedSize, token);
    else if (!file.bytes.empty() || entry.directory || entry.size == 0)
        write(file.bytes);
    else
        copyStored(entry, token);
}

ArchiveSummary ArchiveOutput::finish() {
    const std::uint64_t directoryOffset = offset_;
    for (const ZipRecord& record : records_)
        write(zipCentralHeader(record));
    write(zipEndRecords(records_.size(), directoryOffset, offset_ - directoryOffset));
    flush();
    if (!::FlushFileBuffers(file_.get())) throw Error("无法写入安装包，请检查磁盘空间。");
    file_.reset();
    return ArchiveSummary{.bytes = offset_, .sha256 = hash_.finishHex()};
}

void ArchiveOutput::write(const char* bytes, std::size_t count) {
    offset_ += count;
    while (count > 0) {
        const std::size_t room = std::min(count, packChunkBytes - used_);
        std::copy_n(bytes, room, buffer_.get() + used_);
        used_ += room;
        bytes += room;
        count -= room;
        if (used_ == packChunkBytes) flush();
    }
}

void ArchiveOutput::flush() {
    hash_.update(buffer_.get(), used_);
    writeAll(file_.get(), buffer_.get(), used_);
    used_ = 0;
}

// A file changed since the worker read it still has its size checked here; its CRC-32 no longer
// matches, which the read-back of the archive refuses.
void ArchiveOutput::copyStored(const PackEntry& entry, const CancelToken& token) {
    const UniqueFile source = openClientFile(entry.source);
    const auto buffer = std::make_unique<char[]>(packChunkBytes);
    readClientFileChunks(source.get(), entry, buffer.get(), token,
                         [&](char* bytes, std::size_t read, bool) { write(bytes, read); });
}

void ArchiveOutput::copySpill(HANDLE spill, std::uint64_t size, const CancelToken& token) {
    if (!::SetFilePointerEx(spill, LARGE_INTEGER{}, nullptr, FILE_BEGIN)) throw Error("无法读取临时文件。");
    const auto buffer = std::make_unique<char[]>(packChunkBytes);
    std::uint64_t done = 0;
    while (done < size) {
        throwIfCanceled(token);
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(packChunkBytes, size - done));
        if (readSome(spill, buffer.get(), want, L"") != want) throw Error("无法读取临时文件。");
        write(buffer.get(), want);
        done += want;
    }
}

} // namespace launcher
