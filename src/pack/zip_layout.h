#pragma once

// The byte layout of the archives gatehouse-pack writes: one fixed time stamp, UTF-8 names flagged as
// such, no extra fields but ZIP64 where a size, an offset or a count needs it. Pure.
#include <cstdint>
#include <string>
#include <string_view>

namespace launcher {

// One entry as it goes into the archive.
struct ZipRecord {
    std::string name; // UTF-8, "/" separators, a directory ends in "/"
    std::uint32_t crc = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t size = 0;
    std::uint64_t headerOffset = 0; // of the local header in the archive
    bool deflated = false;
    bool directory = false;
};

// The local header that precedes the entry's data.
std::string zipLocalHeader(const ZipRecord& record);

// The entry's central directory record.
std::string zipCentralHeader(const ZipRecord& record);

// The records that end an archive of `entries` whose central directory of `directorySize` bytes
// starts at `directoryOffset`.
std::string zipEndRecords(std::uint64_t entries, std::uint64_t directoryOffset, std::uint64_t directorySize);

} // namespace launcher
