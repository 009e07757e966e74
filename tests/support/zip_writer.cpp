#include "support/zip_writer.h"

#include "support/test_support.h"

#include <zlib.h>

#include <stdexcept>

namespace launcher::testing {
namespace {

void put16(std::string& out, std::uint64_t value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>((value >> 8) & 0xFF));
}
void put32(std::string& out, std::uint64_t value) {
    put16(out, value & 0xFFFF);
    put16(out, (value >> 16) & 0xFFFF);
}
void put64(std::string& out, std::uint64_t value) {
    put32(out, value & 0xFFFFFFFF);
    put32(out, value >> 32);
}

} // namespace

std::string deflateBytes(const std::string& data) {
    z_stream stream{};
    if (deflateInit2(&stream, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2");
    std::string out(deflateBound(&stream, data.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (result != Z_STREAM_END) throw std::runtime_error("deflate");
    return out;
}

std::string buildZip(const std::vector<ZipEntrySpec>& entries, bool zip64) {
    std::string archive;
    std::string directory;
    for (const ZipEntrySpec& entry : entries) {
        const bool isDirectory = !entry.name.empty() && entry.name.back() == '/';
        const bool deflated = entry.deflate && !isDirectory;
        const std::string stored = deflated ? deflateBytes(entry.data) : entry.data;
        const std::uint16_t method = entry.method.value_or(deflated ? 8 : 0);
        const std::uint16_t flags =
            static_cast<std::uint16_t>((entry.utf8Name ? 0x0800 : 0) | entry.extraFlags);
        const std::uint32_t crc = entry.crc.value_or(
            crc32_z(0, reinterpret_cast<const Bytef*>(entry.data.data()), entry.data.size()));
        const std::uint64_t size = entry.declaredSize.value_or(entry.data.size());
        const std::uint64_t offset = entry.headerOffset.value_or(archive.size());
        const std::string& localName = entry.localName.value_or(entry.name);

        std::string localExtra;
        if (zip64) {
            put16(localExtra, 0x0001);
            put16(localExtra, 16);
            put64(localExtra, size);
            put64(localExtra, stored.size());
        }
        put32(archive, 0x04034b50);
        put16(archive, zip64 ? 45 : 20);
        put16(archive, flags);
        put16(archive, method);
        put32(archive, 0); // time and date
        put32(archive, crc);
        put32(archive, zip64 ? 0xFFFFFFFF : stored.size());
        put32(archive, zip64 ? 0xFFFFFFFF : size);
        put16(archive, localName.size());
        put16(archive, localExtra.size());
        archive += localName + localExtra + stored;

        std::string centralExtra;
        if (zip64) {
            put16(centralExtra, 0x0001);
            put16(centralExtra, 24);
            put64(centralExtra, size);
            put64(centralExtra, stored.size());
            put64(centralExtra, offset);
        }
        put32(directory, 0x02014b50);
        put16(directory, 0x031E); // made by Unix, so the high half of the attributes is a mode
        put16(directory, zip64 ? 45 : 20);
        put16(directory, flags);
        put16(directory, method);
        put32(directory, 0);
        put32(directory, crc);
        put32(directory, zip64 ? 0xFFFFFFFF : stored.size());
        put32(directory, zip64 ? 0xFFFFFFFF : size);
        put16(directory, entry.name.size());
        put16(directory, centralExtra.size());
        put16(directory, 0); // comment
        put16(directory, 0); // disk
        put16(directory, 0); // internal attributes
        put32(directory, entry.externalAttributes);
        put32(directory, zip64 ? 0xFFFFFFFF : offset);
        directory += entry.name + centralExtra;
    }

    const std::uint64_t directoryOffset = archive.size();
    archive += directory;
    if (zip64) {
        const std::uint64_t recordOffset = archive.size();
        put32(archive, 0x06064b50);
        put64(archive, 44);
        put16(archive, 45);
        put16(archive, 45);
        put32(archive, 0);
        put32(archive, 0);
        put64(archive, entries.size());
        put64(archive, entries.size());
        put64(archive, directory.size());
        put64(archive, directoryOffset);
        put32(archive, 0x07064b50);
        put32(archive, 0);
        put64(archive, recordOffset);
        put32(archive, 1);
    }
    put32(archive, 0x06054b50);
    put16(archive, 0);
    put16(archive, 0);
    put16(archive, zip64 ? 0xFFFF : entries.size());
    put16(archive, zip64 ? 0xFFFF : entries.size());
    put32(archive, zip64 ? 0xFFFFFFFF : directory.size());
    put32(archive, zip64 ? 0xFFFFFFFF : directoryOffset);
    put16(archive, 0);
    return archive;
}

void writeZip(const std::filesystem::path& file, const std::vector<ZipEntrySpec>& entries, bool zip64) {
    writeBytes(file, buildZip(entries, zip64));
}

} // namespace launcher::testing
