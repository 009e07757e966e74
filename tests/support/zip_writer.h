#pragma once

// Writes ZIP archives for the tests, including the ones no archiver would produce: wrong CRCs
// or sizes, link and reparse attributes, encrypted or unknown methods, GBK names, ZIP64 records.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace launcher::testing {

struct ZipEntrySpec {
    std::string name; // raw name bytes; a trailing "/" makes a directory entry
    std::string data;
    bool deflate = true;
    bool utf8Name = true; // general-purpose bit 11
    std::uint16_t extraFlags = 0;
    std::optional<std::uint16_t> method; // overrides the method written
    std::uint32_t externalAttributes = 0;
    std::optional<std::uint32_t> crc;          // overrides the CRC-32 written
    std::optional<std::uint64_t> declaredSize; // overrides the uncompressed size written
    std::optional<std::string> localName;      // overrides the name in the local header only
    std::optional<std::uint64_t> headerOffset; // overrides where the directory says the entry starts
};

// The archive's bytes. With `zip64`, every size and offset goes through the ZIP64 records.
std::string buildZip(const std::vector<ZipEntrySpec>& entries, bool zip64 = false);
void writeZip(const std::filesystem::path& file, const std::vector<ZipEntrySpec>& entries,
              bool zip64 = false);

// Raw deflate of `data`.
std::string deflateBytes(const std::string& data);

} // namespace launcher::testing
