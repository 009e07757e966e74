#include "update/chunk_index.h"

#include "foundation/error.h"
#include "zip/inflate_stream.h"

#include <nlohmann/json.hpp>

#include <zlib.h>

#include <limits>

namespace launcher {
namespace {

using nlohmann::json;

constexpr const char* invalidIndex = "客户端分块索引无效。";
constexpr std::size_t maxPathBytes = 4095;

[[noreturn]] void throwInvalid() {
    throw Error(invalidIndex);
}

void require(bool condition) {
    if (!condition) throwInvalid();
}

std::uint64_t readCount(const json& value, std::uint64_t maximum) {
    require(value.is_number_unsigned());
    const std::uint64_t number = value.get<std::uint64_t>();
    require(number <= maximum);
    return number;
}

Sha256Digest readDigest(const json& value) {
    require(value.is_string());
    const std::string& text = value.get_ref<const std::string&>();
    // Store names are lower case: a host with case-sensitive names would not find another form.
    require(text.find_first_of("ABCDEF") == std::string::npos);
    const std::optional<Sha256Digest> digest = parseStoreDigest(text);
    require(digest.has_value());
    return *digest;
}

const json& member(const json& object, const char* name) {
    const auto found = object.find(name);
    require(found != object.end());
    return *found;
}

const json& arrayMember(const json& object, const char* name, std::size_t maximum) {
    const json& value = member(object, name);
    require(value.is_array() && value.size() <= maximum);
    return value;
}

std::string readPath(const json& value) {
    require(value.is_string());
    const std::string& path = value.get_ref<const std::string&>();
    require(!path.empty() && path.size() <= maxPathBytes);
    return path;
}

void readHeader(const json& document, ChunkIndex& index) {
    require(document.is_object());
    require(readCount(member(document, "format"), 1000) == chunkIndexFormat);
    const json& version = member(document, "version");
    require(version.is_string());
    index.version = version.get<std::string>();
    const json& package = member(document, "package");
    require(package.is_object());
    index.packageDigest = readDigest(member(package, "sha256"));
    index.packageSize = readCount(member(package, "size"), std::numeric_limits<std::uint64_t>::max());
    const json& chunking = member(document, "chunking");
    require(chunking.is_object());
    index.chunking.minimum =
        static_cast<std::uint32_t>(readCount(member(chunking, "minimum"), maxChunkBytes));
    index.chunking.average =
        static_cast<std::uint32_t>(readCount(member(chunking, "average"), maxChunkBytes));
    index.chunking.maximum =
        static_cast<std::uint32_t>(readCount(member(chunking, "maximum"), maxChunkBytes));
    require(isValidChunking(index.chunking));
}

void readPacks(const json& document, ChunkIndex& index) {
    const json& packs = arrayMember(document, "packs", maxIndexPacks);
    index.packs.reserve(packs.size());
    for (const json& pack : packs) {
        require(pack.is_object());
        index.packs.push_back({readDigest(member(pack, "name")),
                               readCount(member(pack, "size"), std::numeric_limits<std::uint64_t>::max())});
    }
}

void readChunks(const json& document, ChunkIndex& index) {
    const json& chunks = arrayMember(document, "chunks", maxIndexChunks);
    index.chunks.reserve(chunks.size());
    for (const json& entry : chunks) {
        require(entry.is_array() && entry.size() == 5);
        IndexedChunk chunk;
        chunk.digest = readDigest(entry[0]);
        chunk.size = static_cast<std::uint32_t>(readCount(entry[1], index.chunking.maximum));
        chunk.pack = static_cast<std::uint32_t>(readCount(entry[2], index.packs.size()));
        require(chunk.pack < index.packs.size());
        chunk.offset = readCount(entry[3], std::numeric_limits<std::uint64_t>::max());
        chunk.storedLength = static_cast<std::uint32_t>(readCount(entry[4], chunk.size));
        // An empty chunk is no chunk, and stored bytes must lie inside their pack.
        const std::uint64_t packSize = index.packs[chunk.pack].size;
        require(chunk.size > 0 && chunk.storedLength > 0 && chunk.offset <= packSize &&
                chunk.storedLength <= packSize - chunk.offset);
        index.chunks.push_back(chunk);
    }
}

void readFiles(const json& document, ChunkIndex& index) {
    const json& directories = arrayMember(document, "directories", maxIndexEntries);
    const json& files = arrayMember(document, "files", maxIndexEntries - directories.size());
    index.directories.reserve(directories.size());
    for (const json& directory : directories)
        index.directories.push_back(readPath(directory));
    index.files.reserve(files.size());
    const Sha256Digest noBytes = sha256Digest("", 0);
    for (const json& entry : files) {
        require(entry.is_array() && (entry.size() == 3 || entry.size() == 4));
        IndexedFile file;
        file.path = readPath(entry[0]);
        file.size = readCount(entry[1], std::numeric_limits<std::uint64_t>::max());
        const json& chunks = entry[2];
        require(chunks.is_array() && chunks.size() <= index.chunks.size());
        file.chunks.reserve(chunks.size());
        std::uint64_t total = 0;
        for (const json& reference : chunks) {
            const std::uint64_t chunk = readCount(reference, index.chunks.size());
            require(chunk < index.chunks.size());
            total += index.chunks[chunk].size; // at most 4e6 chunks of 16 MiB: no overflow
            file.chunks.push_back(static_cast<std::uint32_t>(chunk));
        }
        require(total == file.size);
        // Two chunks or more carry the file's own digest; one chunk or none would only repeat one.
        require((entry.size() == 4) == (file.chunks.size() >= 2));
        file.digest = entry.size() == 4         ? readDigest(entry[3])
                      : file.chunks.size() == 1 ? index.chunks[file.chunks[0]].digest
                                                : noBytes;
        index.files.push_back(std::move(file));
    }
}

} // namespace

ChunkIndex parseChunkIndex(std::string_view bytes) {
    if (bytes.size() > maxChunkIndexBytes) throwInvalid();
    const std::string text = inflateAll(bytes, DeflateFraming::zlib, maxChunkIndexBytes, invalidIndex);
    json document;
    try {
        document = json::parse(text);
    } catch (const json::exception&) {
        throwInvalid();
    }
    ChunkIndex index;
    readHeader(document, index);
    readPacks(document, index);
    readChunks(document, index);
    readFiles(document, index);
    return index;
}

std::string chunkIndexDocument(const ChunkIndex& index) {
    // Written piece by piece rather than through the JSON library's sorted keys: the order above
    // reads best, and a large index is written without a second copy of itself in memory.
    std::string out;
    const auto text = [&](std::string_view piece) { out.append(piece); };
    const auto number = [&](std::uint64_t value) { out.append(std::to_string(value)); };
    const auto quoted = [&](const std::string& value) { out.append(json(value).dump(-1, ' ', false)); };
    const auto digest = [&](const Sha256Digest& value) {
        out.push_back('"');
        out.append(storeDigestText(value));
        out.push_back('"');
    };
    const auto separator = [&](std::size_t position) { text(position == 0 ? "\n" : ",\n"); };
    text("{\"format\":");
    number(chunkIndexFormat);
    text(",\"version\":");
    quoted(index.version);
    text(",\"package\":{\"sha256\":");
    digest(index.packageDigest);
    text(",\"size\":");
    number(index.packageSize);
    text("},\"chunking\":{\"minimum\":");
    number(index.chunking.minimum);
    text(",\"average\":");
    number(index.chunking.average);
    text(",\"maximum\":");
    number(index.chunking.maximum);
    text("},\n\"packs\":[");
    for (std::size_t i = 0; i < index.packs.size(); ++i) {
        separator(i);
        text("{\"name\":");
        digest(index.packs[i].digest);
        text(",\"size\":");
        number(index.packs[i].size);
        text("}");
    }
    text("],\n\"chunks\":[");
    for (std::size_t i = 0; i < index.chunks.size(); ++i) {
        const IndexedChunk& chunk = index.chunks[i];
        separator(i);
        text("[");
        digest(chunk.digest);
        for (const std::uint64_t value : {std::uint64_t{chunk.size}, std::uint64_t{chunk.pack}, chunk.offset,
                                          std::uint64_t{chunk.storedLength}}) {
            text(",");
            number(value);
        }
        text("]");
    }
    text("],\n\"directories\":[");
    for (std::size_t i = 0; i < index.directories.size(); ++i) {
        separator(i);
        quoted(index.directories[i]);
    }
    text("],\n\"files\":[");
    for (std::size_t i = 0; i < index.files.size(); ++i) {
        const IndexedFile& file = index.files[i];
        separator(i);
        text("[");
        quoted(file.path);
        text(",");
        number(file.size);
        text(",[");
        for (std::size_t c = 0; c < file.chunks.size(); ++c) {
            if (c > 0) text(",");
            number(file.chunks[c]);
        }
        text("]");
        if (file.chunks.size() >= 2) {
            text(",");
            digest(file.digest);
        }
        text("]");
    }
    text("]}\n");
    return out;
}

std::string serializeChunkIndex(const ChunkIndex& index) {
    const std::string document = chunkIndexDocument(index);
    uLongf size = compressBound(static_cast<uLong>(document.size()));
    std::string compressed(size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(compressed.data()), &size,
                  reinterpret_cast<const Bytef*>(document.data()), static_cast<uLong>(document.size()),
                  Z_BEST_COMPRESSION) != Z_OK)
        throw Error(invalidIndex);
    compressed.resize(size);
    return compressed;
}

std::string storeDigestText(const Sha256Digest& digest) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string text;
    text.reserve(64);
    for (const unsigned char byte : digest) {
        text += hex[byte >> 4];
        text += hex[byte & 15];
    }
    return text;
}

std::optional<Sha256Digest> parseStoreDigest(std::string_view text) {
    if (text.size() != 64) return std::nullopt;
    const auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    Sha256Digest digest{};
    for (std::size_t i = 0; i < 32; ++i) {
        const int high = nibble(text[2 * i]);
        const int low = nibble(text[2 * i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        digest[i] = static_cast<unsigned char>(high << 4 | low);
    }
    return digest;
}

std::string indexStorePath(const Sha256Digest& digest) {
    return "indexes/" + storeDigestText(digest) + ".index";
}

std::string packStorePath(const Sha256Digest& digest) {
    return "packs/" + storeDigestText(digest) + ".pack";
}

std::string packAddressFromIndex(const Sha256Digest& digest) {
    return "../" + packStorePath(digest);
}

} // namespace launcher
