#pragma once

// A small reader for ZIP archives over zlib: the central directory (with ZIP64), stored and
// deflated entries, CRC-32 and size verification. Written for hostile input: every offset, size
// and count is checked against the file before it is used, memory stays bounded, and every
// failure is a false result, never a crash or a hang.
#include "zip/zip_source.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace launcher {

// Declared in foundation/unique_handle.h, which brings in the platform headers this one avoids.
template <class Traits>
class Unique;
struct FileHandleTraits;

// One entry as the central directory describes it.
struct ZipEntryStat {
    std::uint64_t m_uncomp_size = 0;
    std::uint64_t m_comp_size = 0;
    std::uint64_t m_local_header_ofs = 0;
    std::uint32_t m_crc32 = 0;
    std::uint32_t m_external_attr = 0;
    std::uint16_t m_bit_flag = 0;
    std::uint16_t m_method = 0;
    bool m_is_directory = false;
    bool m_is_encrypted = false;
    bool m_is_supported = false; // stored or deflated, not encrypted, not patch data
};

// Receives an entry's bytes in order: (offset in the entry, bytes, count). Returns how many
// bytes it accepted; anything less than `count` fails the extraction.
using ZipWriteCallback =
    std::function<std::size_t(std::uint64_t offset, const void* bytes, std::size_t count)>;

class ZipReader {
public:
    // Reads the archive `source` provides; the reader is not open until open() succeeds.
    explicit ZipReader(std::unique_ptr<ZipSource> source);
    // Reads an open file (defined apart from the reader, with the platform calls).
    explicit ZipReader(Unique<FileHandleTraits> file);

    // Reads the end records. False if this is not a readable ZIP archive.
    bool open();

    // The entry count the archive declares. Call before anything that walks the directory, so a
    // huge count can be refused cheaply.
    std::uint64_t entryCount() const { return entryCount_; }

    // False if the directory or this entry is damaged.
    bool stat(std::uint64_t index, ZipEntryStat& stat);

    // The entry's raw name bytes; false if the entry cannot be addressed.
    bool name(std::uint64_t index, std::string& name);

    // Streams the entry's uncompressed bytes to `write`, then checks CRC-32 and size. False on
    // any failure, including a callback that accepted less than it was given.
    bool extract(std::uint64_t index, const ZipWriteCallback& write);

private:
    struct Entry {
        std::uint64_t headerOffset; // in centralDirectory_
        std::uint64_t dataLimit;    // where the next entry's local header (or the directory) begins
        ZipEntryStat stat;
    };

    bool readAt(std::uint64_t offset, void* buffer, std::size_t count);
    bool loadDirectory();
    bool parseEntry(std::uint64_t& cursor, Entry& entry);
    bool locateData(const Entry& entry, std::uint64_t& dataOffset);
    bool extractStored(const Entry& entry, std::uint64_t dataOffset, const ZipWriteCallback& write);
    bool extractDeflated(const Entry& entry, std::uint64_t dataOffset, const ZipWriteCallback& write);

    std::unique_ptr<ZipSource> source_;
    std::uint64_t fileSize_ = 0;
    std::uint64_t entryCount_ = 0;
    std::uint64_t directoryOffset_ = 0;
    std::uint64_t directorySize_ = 0;
    bool loaded_ = false;
    bool damaged_ = false;
    std::string centralDirectory_;
    std::vector<Entry> entries_;
    // Allocated once and reused by every entry: clients hold thousands of small files.
    std::unique_ptr<char[]> input_;
    std::unique_ptr<char[]> output_;
};

} // namespace launcher
