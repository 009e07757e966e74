#include "pack/zip_layout.h"

#include "zip/zip_format.h"

#include <algorithm>

namespace launcher {
namespace {

constexpr std::uint16_t plainVersion = 20;
constexpr std::uint16_t zip64Version = 45;
// Made on NTFS: DOS attributes in the low byte, and names that readers take as they are (they
// convert names made on FAT from the OEM code page, whatever the UTF-8 flag says).
constexpr std::uint16_t madeOnNtfs = 10 << 8;
constexpr std::uint16_t dosDate1980 = (0 << 9) | (1 << 5) | 1; // 1980-01-01, 00:00:00
constexpr std::uint64_t max32 = 0xFFFFFFFF;
constexpr std::uint64_t max16 = 0xFFFF;

void put16(std::string& out, std::uint64_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}
void put32(std::string& out, std::uint64_t value) {
    put16(out, value & 0xFFFF);
    put16(out, (value >> 16) & 0xFFFF);
}
void put64(std::string& out, std::uint64_t value) {
    put32(out, value & max32);
    put32(out, value >> 32);
}

// A value in a 32-bit field, or the mark that sends readers to the ZIP64 field. A value equal to
// the mark goes to ZIP64 as well, or readers could not tell the two apart.
std::uint64_t field32(std::uint64_t value) {
    return value >= max32 ? max32 : value;
}

void putCommonFields(std::string& out, const ZipRecord& record, bool zip64, std::uint64_t compressedField,
                     std::uint64_t sizeField) {
    put16(out, zip64 ? zip64Version : plainVersion);
    put16(out, zipUtf8NameFlag);
    put16(out, record.deflated ? 8 : 0);
    put16(out, 0); // time 00:00:00
    put16(out, dosDate1980);
    put32(out, record.crc);
    put32(out, compressedField);
    put32(out, sizeField);
    put16(out, record.name.size());
}

} // namespace

std::string zipLocalHeader(const ZipRecord& record) {
    // A local ZIP64 field carries both sizes, whichever of them overflowed.
    const bool zip64 = record.size >= max32 || record.compressedSize >= max32;
    std::string out;
    out.reserve(30 + record.name.size() + (zip64 ? 20 : 0));
    put32(out, zipLocalSignature);
    putCommonFields(out, record, zip64, zip64 ? max32 : record.compressedSize, zip64 ? max32 : record.size);
    put16(out, zip64 ? 20 : 0);
    out += record.name;
    if (zip64) {
        put16(out, zipZip64ExtraId);
        put16(out, 16);
        put64(out, record.size);
        put64(out, record.compressedSize);
    }
    return out;
}

std::string zipCentralHeader(const ZipRecord& record) {
    std::string extra;
    if (record.size >= max32) put64(extra, record.size);
    if (record.compressedSize >= max32) put64(extra, record.compressedSize);
    if (record.headerOffset >= max32) put64(extra, record.headerOffset);
    const bool zip64 = !extra.empty();
    std::string out;
    out.reserve(46 + record.name.size() + (zip64 ? 4 + extra.size() : 0));
    put32(out, zipCentralSignature);
    put16(out, madeOnNtfs | (zip64 ? zip64Version : plainVersion));
    putCommonFields(out, record, zip64, field32(record.compressedSize), field32(record.size));
    put16(out, zip64 ? 4 + extra.size() : 0);
    put16(out, 0); // comment
    put16(out, 0); // disk
    put16(out, 0); // internal attributes
    put32(out, record.directory ? zipDosDirectoryAttribute : 0);
    put32(out, field32(record.headerOffset));
    out += record.name;
    if (zip64) {
        put16(out, zipZip64ExtraId);
        put16(out, extra.size());
        out += extra;
    }
    return out;
}

std::string zipEndRecords(std::uint64_t entries, std::uint64_t directoryOffset, std::uint64_t directorySize) {
    std::string out;
    const bool zip64 = entries >= max16 || directoryOffset >= max32 || directorySize >= max32;
    if (zip64) {
        const std::uint64_t recordOffset = directoryOffset + directorySize;
        put32(out, zipZip64EndSignature);
        put64(out, 44); // the record's size after this field
        put16(out, zip64Version);
        put16(out, zip64Version);
        put32(out, 0); // this disk
        put32(out, 0); // the directory's disk
        put64(out, entries);
        put64(out, entries);
        put64(out, directorySize);
        put64(out, directoryOffset);
        put32(out, zipZip64LocatorSignature);
        put32(out, 0);
        put64(out, recordOffset);
        put32(out, 1); // disks
    }
    put32(out, zipEndSignature);
    put16(out, 0);
    put16(out, 0);
    put16(out, std::min(entries, max16));
    put16(out, std::min(entries, max16));
    put32(out, field32(directorySize));
    put32(out, field32(directoryOffset));
    put16(out, 0); // comment
    return out;
}

} // namespace launcher
