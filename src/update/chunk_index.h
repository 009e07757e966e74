#pragma once

// The index of a client version in a content store: which chunks each file of the client is made
// of, and where each chunk lies in the store's pack files. An operator publishes it beside the
// full package; the manifest names its address, size and digest, so the signature covers the
// index and the index covers every chunk and every file.
//
// On the host a store is two folders, shared by every version published into it:
//
//   indexes/<digest>.index   one per version: a zlib stream of the JSON document below
//   packs/<digest>.pack      chunks back to back, each raw or raw-deflated; named by the pack's
//                            own SHA-256, so a pack never changes once published
//
// Digests are 64 lower-case hexadecimal digits, as the file names on a case-sensitive host are.
// The document (keys as written by serializeChunkIndex):
//
//   {"format": 1, "version": "2.0.1",
//    "package": {"sha256": "...", "size": 1073741824},     the full package these files come from
//    "chunking": {"minimum": 262144, "average": 1048576, "maximum": 4194304},
//    "packs": [{"name": "...", "size": 67108864}, ...],
//    "chunks": [["<sha256>", size, pack, offset, storedLength], ...],
//    "directories": ["Game_Data/Plugins", ...],             folders the package holds as entries
//    "files": [["Game_Data/level0", size, [chunk, ...], "<sha256>"], ...]}
//
// A chunk whose storedLength is below its size is stored raw-deflated (RFC 1951) and must inflate
// to exactly its size; one whose storedLength equals its size is stored as is. A file's digest is
// written only when it has two chunks or more: a file of one chunk has that chunk's digest, and an
// empty file has no chunk. Files are in the package's entry order; paths use "/".
#include "config/document_rules.h"
#include "net/sha256_hash.h"
#include "update/content_chunker.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace launcher {

inline constexpr int chunkIndexFormat = 1;

// An index is untrusted bytes until its digest matches: it may be no larger than this, stored or
// inflated, as the installed-client marker may not.
inline constexpr std::uint64_t maxChunkIndexBytes = maxStoreIndexBytes;

// As many paths (files and folders) as a package may hold.
inline constexpr std::size_t maxIndexEntries = 200000;
// As many chunks and packs as an index may name.
inline constexpr std::size_t maxIndexChunks = 4000000;
inline constexpr std::size_t maxIndexPacks = 1000000;

struct IndexedPack {
    Sha256Digest digest{};
    std::uint64_t size = 0;
};

struct IndexedChunk {
    Sha256Digest digest{}; // of the chunk's content, inflated
    std::uint32_t size = 0;
    std::uint32_t pack = 0; // into ChunkIndex::packs
    std::uint64_t offset = 0;
    std::uint32_t storedLength = 0; // below size: deflated

    bool deflated() const { return storedLength < size; }
};

struct IndexedFile {
    std::string path; // UTF-8, "/" between folders, as the package names it
    std::uint64_t size = 0;
    Sha256Digest digest{};             // as read: its own, its one chunk's, or that of no bytes
    std::vector<std::uint32_t> chunks; // into ChunkIndex::chunks, in file order
};

struct ChunkIndex {
    std::string version;
    Sha256Digest packageDigest{};
    std::uint64_t packageSize = 0;
    ChunkingParameters chunking = defaultChunking;
    std::vector<IndexedPack> packs;
    std::vector<IndexedChunk> chunks;
    std::vector<std::string> directories;
    std::vector<IndexedFile> files;
};

// Reads an index as fetched: inflates the zlib stream (at most maxChunkIndexBytes) and checks the
// document's shape and its own consistency: every number in range, every reference pointing into
// its list, every chunk within its pack and no larger than the chunking's maximum, every file's
// chunk sizes adding up to its size, a two-chunk file's digest given and a one-chunk file's not,
// at most maxIndexEntries paths, no path empty or longer than 4095 bytes. Path safety is for the
// install to judge, under the folder it writes into. Throws Error("客户端分块索引无效。").
ChunkIndex parseChunkIndex(std::string_view bytes);

// The JSON document of `index`, compact, keys in the order shown above.
std::string chunkIndexDocument(const ChunkIndex& index);

// chunkIndexDocument compressed as the store holds it: what parseChunkIndex reads back.
std::string serializeChunkIndex(const ChunkIndex& index);

// 64 lower-case hexadecimal digits, as a store names its files; and back (nothing for anything but
// 64 hexadecimal digits; upper case is read too).
std::string storeDigestText(const Sha256Digest& digest);

// For maps keyed by digest: its first bytes are as good as any hash of it.
struct StoreDigestHash {
    std::size_t operator()(const Sha256Digest& digest) const noexcept {
        std::size_t value = 0;
        for (std::size_t i = 0; i < sizeof value; ++i)
            value = value << 8 | digest[i];
        return value;
    }
};
std::optional<Sha256Digest> parseStoreDigest(std::string_view text);

// Where the store's files lie relative to a store's root, and relative to the index's address.
std::string indexStorePath(const Sha256Digest& digest);       // "indexes/<digest>.index"
std::string packStorePath(const Sha256Digest& digest);        // "packs/<digest>.pack"
std::string packAddressFromIndex(const Sha256Digest& digest); // "../packs/<digest>.pack"

} // namespace launcher
