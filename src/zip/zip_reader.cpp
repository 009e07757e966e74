#include "zip/zip_reader.h"

#include "zip/zip_format.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <numeric>

namespace launcher {
namespace {

constexpr std::size_t endRecordSize = 22;
constexpr std::size_t zip64LocatorSize = 20;
constexpr std::size_t zip64EndSize = 56;
constexpr std::size_t centralHeaderSize = 46;
constexpr std::size_t localHeaderSize = 30;
constexpr std::size_t maxCommentSize = 65535;
// The directory is held in memory; a larger one than any real client package needs is refused.
constexpr std::uint64_t maxDirectoryBytes = 64ull << 20;
constexpr std::size_t bufferBytes = 256 * 1024;

constexpr std::uint16_t flagEncrypted = 0x0001;
constexpr std::uint16_t flagPatchData = 0x0020;
constexpr std::uint16_t flagStrongEncryption = 0x0040;
constexpr std::uint16_t flagMaskedHeaders = 0x2000;

std::uint16_t read16(const char* p) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(p[0]) | static_cast<unsigned char>(p[1])
                                                                             << 8);
}

std::uint32_t read32(const char* p) {
    return read16(p) | static_cast<std::uint32_t>(read16(p + 2)) << 16;
}

std::uint64_t read64(const char* p) {
    return read32(p) | static_cast<std::uint64_t>(read32(p + 4)) << 32;
}

// Reads the ZIP64 extended-information field for whichever values the fixed header saturated.
bool applyZip64Extra(std::string_view extra, ZipEntryStat& stat, bool wantUncompressed, bool wantCompressed,
                     bool wantOffset) {
    while (extra.size() >= 4) {
        const std::uint16_t id = read16(extra.data());
        const std::uint16_t size = read16(extra.data() + 2);
        if (size > extra.size() - 4) return false;
        std::string_view field = extra.substr(4, size);
        if (id == zipZip64ExtraId) {
            for (auto [wanted, target] : {std::pair{wantUncompressed, &stat.m_uncomp_size},
                                          std::pair{wantCompressed, &stat.m_comp_size},
                                          std::pair{wantOffset, &stat.m_local_header_ofs}}) {
                if (!wanted) continue;
                if (field.size() < 8) return false;
                *target = read64(field.data());
                field.remove_prefix(8);
            }
            return true;
        }
        extra.remove_prefix(4 + size);
    }
    return !wantUncompressed && !wantCompressed && !wantOffset;
}

struct InflateStream {
    z_stream stream{};
    bool ready = false;
    InflateStream() { ready = inflateInit2(&stream, -MAX_WBITS) == Z_OK; }
    ~InflateStream() {
        if (ready) inflateEnd(&stream);
    }
    InflateStream(const InflateStream&) = delete;
    InflateStream& operator=(const InflateStream&) = delete;
};

} // namespace

ZipReader::ZipReader(std::unique_ptr<ZipSource> source) : source_(std::move(source)) {}

bool ZipReader::readAt(std::uint64_t offset, void* buffer, std::size_t count) {
    if (offset > fileSize_ || count > fileSize_ - offset) return false;
    return count == 0 || source_->readAt(offset, buffer, count);
}

bool ZipReader::open() {
    if (!source_ || !source_->size(fileSize_) || fileSize_ < endRecordSize) return false;

    const std::size_t tailSize =
        static_cast<std::size_t>(std::min<std::uint64_t>(fileSize_, endRecordSize + maxCommentSize));
    std::string tail(tailSize, '\0');
    if (!readAt(fileSize_ - tailSize, tail.data(), tailSize)) return false;
    std::size_t found = std::string::npos;
    for (std::size_t at = tailSize - endRecordSize + 1; at-- > 0;) {
        if (read32(tail.data() + at) == zipEndSignature) {
            found = at;
            break;
        }
    }
    if (found == std::string::npos) return false;
    const char* record = tail.data() + found;
    const std::uint64_t endOffset = fileSize_ - tailSize + found;
    std::uint64_t thisDiskEntries = read16(record + 8);
    entryCount_ = read16(record + 10);
    directorySize_ = read32(record + 12);
    directoryOffset_ = read32(record + 16);
    std::uint64_t directoryEnd = endOffset;
    if (read16(record + 4) != 0 || read16(record + 6) != 0) return false; // multi-volume archives

    char locator[zip64LocatorSize];
    if (endOffset >= zip64LocatorSize && readAt(endOffset - zip64LocatorSize, locator, sizeof(locator)) &&
        read32(locator) == zipZip64LocatorSignature) {
        const std::uint64_t zip64End = read64(locator + 8);
        char end64[zip64EndSize];
        if (zip64End > endOffset - zip64LocatorSize ||
            endOffset - zip64LocatorSize - zip64End < zip64EndSize ||
            !readAt(zip64End, end64, sizeof(end64)) || read32(end64) != zipZip64EndSignature ||
            read32(end64 + 16) != 0 || read32(end64 + 20) != 0)
            return false;
        thisDiskEntries = read64(end64 + 24);
        entryCount_ = read64(end64 + 32);
        directorySize_ = read64(end64 + 40);
        directoryOffset_ = read64(end64 + 48);
        directoryEnd = zip64End;
    }

    if (thisDiskEntries != entryCount_ || directoryOffset_ > directoryEnd ||
        directorySize_ > directoryEnd - directoryOffset_ || directorySize_ > maxDirectoryBytes)
        return false;
    // Every entry needs a fixed header in the directory; a count the directory cannot hold is a lie.
    return entryCount_ <= directorySize_ / centralHeaderSize;
}

bool ZipReader::parseEntry(std::uint64_t& cursor, Entry& entry) {
    const std::string_view directory = centralDirectory_;
    if (directory.size() - cursor < centralHeaderSize) return false;
    const char* header = directory.data() + cursor;
    if (read32(header) != zipCentralSignature) return false;
    const std::size_t nameSize = read16(header + 28);
    const std::size_t extraSize = read16(header + 30);
    const std::size_t commentSize = read16(header + 32);
    if (directory.size() - cursor - centralHeaderSize < nameSize + extraSize + commentSize) return false;

    ZipEntryStat& stat = entry.stat;
    stat.m_bit_flag = read16(header + 8);
    stat.m_method = read16(header + 10);
    stat.m_crc32 = read32(header + 16);
    stat.m_comp_size = read32(header + 20);
    stat.m_uncomp_size = read32(header + 24);
    stat.m_external_attr = read32(header + 38);
    stat.m_local_header_ofs = read32(header + 42);
    const std::string_view extra = directory.substr(cursor + centralHeaderSize + nameSize, extraSize);
    if (!applyZip64Extra(extra, stat, stat.m_uncomp_size == 0xFFFFFFFF, stat.m_comp_size == 0xFFFFFFFF,
                         stat.m_local_header_ofs == 0xFFFFFFFF))
        return false;
    if (read16(header + 34) != 0 && read16(header + 34) != 0xFFFF) return false; // another volume

    const std::string_view name = directory.substr(cursor + centralHeaderSize, nameSize);
    stat.m_is_directory =
        (!name.empty() && name.back() == '/') || (stat.m_external_attr & zipDosDirectoryAttribute);
    stat.m_is_encrypted = (stat.m_bit_flag & (flagEncrypted | flagStrongEncryption)) != 0;
    stat.m_is_supported =
        (stat.m_method == 0 || stat.m_method == Z_DEFLATED) &&
        !(stat.m_bit_flag & (flagEncrypted | flagPatchData | flagStrongEncryption | flagMaskedHeaders));

    // Entry data must lie before the directory.
    if (stat.m_local_header_ofs > directoryOffset_ ||
        directoryOffset_ - stat.m_local_header_ofs < localHeaderSize ||
        stat.m_comp_size > directoryOffset_ - stat.m_local_header_ofs - localHeaderSize)
        return false;
    entry.headerOffset = cursor;
    cursor += centralHeaderSize + nameSize + extraSize + commentSize;
    return true;
}

bool ZipReader::loadDirectory() {
    if (loaded_) return !damaged_;
    loaded_ = true;
    damaged_ = true;
    centralDirectory_.assign(static_cast<std::size_t>(directorySize_), '\0');
    if (!readAt(directoryOffset_, centralDirectory_.data(), centralDirectory_.size())) return false;
    entries_.resize(static_cast<std::size_t>(entryCount_));
    std::uint64_t cursor = 0;
    for (Entry& entry : entries_)
        if (!parseEntry(cursor, entry)) return false;

    // Entries may not share or overlap their local records: each one's data must end before the
    // next local header in file order, or before the directory for the last one.
    std::vector<std::size_t> order(entries_.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::ranges::sort(order, {}, [this](std::size_t i) { return entries_[i].stat.m_local_header_ofs; });
    for (std::size_t i = 0; i < order.size(); ++i) {
        Entry& entry = entries_[order[i]];
        const bool last = i + 1 == order.size();
        entry.dataLimit = last ? directoryOffset_ : entries_[order[i + 1]].stat.m_local_header_ofs;
        if (entry.dataLimit <= entry.stat.m_local_header_ofs) return false;
    }
    damaged_ = false;
    return true;
}

bool ZipReader::stat(std::uint64_t index, ZipEntryStat& stat) {
    if (!loadDirectory() || index >= entries_.size()) return false;
    stat = entries_[index].stat;
    return true;
}

bool ZipReader::name(std::uint64_t index, std::string& name) {
    if (!loadDirectory() || index >= entries_.size()) return false;
    const char* header = centralDirectory_.data() + entries_[index].headerOffset;
    name.assign(header + centralHeaderSize, read16(header + 28));
    return true;
}

bool ZipReader::locateData(const Entry& entry, std::uint64_t& dataOffset) {
    const std::uint64_t start = entry.stat.m_local_header_ofs;
    const char* central = centralDirectory_.data() + entry.headerOffset;
    const std::string_view centralName(central + centralHeaderSize, read16(central + 28));
    // The header and the name in one read; a local name of another length fails the comparison.
    std::string header(localHeaderSize + centralName.size(), '\0');
    if (entry.dataLimit - start < header.size() || !readAt(start, header.data(), header.size()) ||
        read32(header.data()) != zipLocalSignature)
        return false;
    const std::uint64_t variable = std::uint64_t{read16(header.data() + 26)} + read16(header.data() + 28);
    const std::uint64_t room = entry.dataLimit - start - localHeaderSize;
    if (variable > room || entry.stat.m_comp_size > room - variable) return false;
    // The local name must be the one the directory promised.
    if (read16(header.data() + 26) != centralName.size() ||
        std::string_view(header).substr(localHeaderSize) != centralName)
        return false;
    dataOffset = start + localHeaderSize + variable;
    return true;
}

bool ZipReader::extractStored(const Entry& entry, std::uint64_t dataOffset, const ZipWriteCallback& write) {
    const ZipEntryStat& stat = entry.stat;
    if (stat.m_comp_size != stat.m_uncomp_size) return false;
    char* buffer = input_.get();
    std::uint64_t done = 0;
    uLong crc = crc32_z(0, nullptr, 0);
    while (done < stat.m_comp_size) {
        const std::size_t chunk =
            static_cast<std::size_t>(std::min<std::uint64_t>(bufferBytes, stat.m_comp_size - done));
        if (!readAt(dataOffset + done, buffer, chunk)) return false;
        crc = crc32_z(crc, reinterpret_cast<const Bytef*>(buffer), chunk);
        if (write(done, buffer, chunk) != chunk) return false;
        done += chunk;
    }
    return crc == stat.m_crc32;
}

bool ZipReader::extractDeflated(const Entry& entry, std::uint64_t dataOffset, const ZipWriteCallback& write) {
    const ZipEntryStat& stat = entry.stat;
    // Some archivers store an empty file as deflated with no data at all, not even an empty block.
    if (stat.m_comp_size == 0) return stat.m_uncomp_size == 0 && stat.m_crc32 == crc32_z(0, nullptr, 0);
    InflateStream inflater;
    if (!inflater.ready) return false;
    z_stream& stream = inflater.stream;
    char* input = input_.get();
    char* output = output_.get();
    std::uint64_t consumed = 0;
    std::uint64_t produced = 0;
    uLong crc = crc32_z(0, nullptr, 0);
    for (;;) {
        if (stream.avail_in == 0 && consumed < stat.m_comp_size) {
            const std::size_t chunk =
                static_cast<std::size_t>(std::min<std::uint64_t>(bufferBytes, stat.m_comp_size - consumed));
            if (!readAt(dataOffset + consumed, input, chunk)) return false;
            stream.next_in = reinterpret_cast<Bytef*>(input);
            stream.avail_in = static_cast<uInt>(chunk);
            consumed += chunk;
        }
        stream.next_out = reinterpret_cast<Bytef*>(output);
        stream.avail_out = static_cast<uInt>(bufferBytes);
        const int result = inflate(&stream, Z_NO_FLUSH);
        const std::size_t count = bufferBytes - stream.avail_out;
        if (count > 0) {
            crc = crc32_z(crc, reinterpret_cast<const Bytef*>(output), count);
            if (write(produced, output, count) != count) return false;
            produced += count;
        }
        if (result == Z_STREAM_END) break;
        if (result != Z_OK && result != Z_BUF_ERROR) return false;
        // Out of input before the end of the stream: the entry is truncated.
        if (count == 0 && stream.avail_in == 0 && consumed == stat.m_comp_size) return false;
    }
    return produced == stat.m_uncomp_size && crc == stat.m_crc32;
}

bool ZipReader::extract(std::uint64_t index, const ZipWriteCallback& write) {
    if (!loadDirectory() || index >= entries_.size()) return false;
    const Entry& entry = entries_[index];
    if (!entry.stat.m_is_supported) return false;
    std::uint64_t dataOffset = 0;
    if (!locateData(entry, dataOffset)) return false;
    if (!input_) {
        input_ = std::make_unique<char[]>(bufferBytes);
        output_ = std::make_unique<char[]>(bufferBytes);
    }
    if (entry.stat.m_method == 0) return extractStored(entry, dataOffset, write);
    return extractDeflated(entry, dataOffset, write);
}

} // namespace launcher
