// Reads a content store's index as the launcher does once it is fetched. The first byte picks the
// form of the rest: odd, a document that is compressed here first, so the fuzzer reaches the
// document's rules past zlib's checksum; even, the index as fetched, so the inflate is fuzzed too.
// An accepted index must be one the install can follow without another check (every reference in
// range, each file's chunks adding up to it) and must read back the same once the publishing tool
// writes it out again.
#include "foundation/error.h"
#include "update/chunk_index.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using namespace launcher;

std::string compressed(std::string_view document) {
    uLongf size = compressBound(static_cast<uLong>(document.size()));
    std::string out(size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                  reinterpret_cast<const Bytef*>(document.data()), static_cast<uLong>(document.size()),
                  1) != Z_OK)
        std::abort();
    out.resize(size);
    return out;
}

void requireConsistent(const ChunkIndex& index) {
    if (!isValidChunking(index.chunking) || index.directories.size() + index.files.size() > maxIndexEntries)
        std::abort();
    for (const IndexedChunk& chunk : index.chunks) {
        if (chunk.pack >= index.packs.size() || chunk.size == 0 || chunk.size > index.chunking.maximum ||
            chunk.storedLength == 0 || chunk.storedLength > chunk.size)
            std::abort();
        const std::uint64_t packSize = index.packs[chunk.pack].size;
        if (chunk.offset > packSize || chunk.storedLength > packSize - chunk.offset) std::abort();
    }
    for (const std::string& directory : index.directories)
        if (directory.empty() || directory.size() > 4095) std::abort();
    for (const IndexedFile& file : index.files) {
        if (file.path.empty() || file.path.size() > 4095) std::abort();
        std::uint64_t total = 0;
        for (const std::uint32_t chunk : file.chunks) {
            if (chunk >= index.chunks.size()) std::abort();
            total += index.chunks[chunk].size;
        }
        if (total != file.size) std::abort();
        if (file.chunks.size() == 1 && file.digest != index.chunks[file.chunks[0]].digest) std::abort();
    }
}

bool same(const ChunkIndex& a, const ChunkIndex& b) {
    const auto samePack = [](const IndexedPack& x, const IndexedPack& y) {
        return x.digest == y.digest && x.size == y.size;
    };
    const auto sameChunk = [](const IndexedChunk& x, const IndexedChunk& y) {
        return x.digest == y.digest && x.size == y.size && x.pack == y.pack && x.offset == y.offset &&
               x.storedLength == y.storedLength;
    };
    const auto sameFile = [](const IndexedFile& x, const IndexedFile& y) {
        return x.path == y.path && x.size == y.size && x.digest == y.digest && x.chunks == y.chunks;
    };
    return a.version == b.version && a.packageDigest == b.packageDigest && a.packageSize == b.packageSize &&
           a.chunking == b.chunking && a.directories == b.directories &&
           std::equal(a.packs.begin(), a.packs.end(), b.packs.begin(), b.packs.end(), samePack) &&
           std::equal(a.chunks.begin(), a.chunks.end(), b.chunks.begin(), b.chunks.end(), sameChunk) &&
           std::equal(a.files.begin(), a.files.end(), b.files.begin(), b.files.end(), sameFile);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string bytes = data[0] & 1 ? compressed(rest) : std::string(rest);
    try {
        const ChunkIndex index = parseChunkIndex(bytes);
        requireConsistent(index);
        // The writer's line breaks can take an index at the limit past it.
        if (chunkIndexDocument(index).size() > maxChunkIndexBytes) return 0;
        if (!same(parseChunkIndex(serializeChunkIndex(index)), index)) std::abort();
    } catch (const Error& error) {
        if (std::string_view(error.what()) != "客户端分块索引无效。") std::abort();
    }
    return 0;
}
