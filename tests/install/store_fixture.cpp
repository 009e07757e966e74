#include "store_fixture.h"

#include "support/test_support.h"
#include "support/zip_writer.h"

#include <map>

namespace launcher::testing {

PublishedStore publishStore(const std::filesystem::path& root, const std::vector<StoreEntry>& entries,
                            const std::string& packageSha256, std::uint64_t packageSize,
                            const ChunkingParameters& chunking, const std::vector<PublishedStore>& earlier) {
    PublishedStore result;
    ChunkIndex& index = result.index;
    index.version = "test";
    index.packageDigest = *parseStoreDigest(packageSha256);
    index.packageSize = packageSize;
    index.chunking = chunking;
    std::map<Sha256Digest, std::uint32_t> known; // digest -> chunk in this index
    std::map<Sha256Digest, std::uint32_t> packs; // pack digest -> pack in this index
    const auto addPack = [&](const IndexedPack& pack) {
        const auto [at, added] =
            packs.try_emplace(pack.digest, static_cast<std::uint32_t>(index.packs.size()));
        if (added) index.packs.push_back(pack);
        return at->second;
    };
    for (const PublishedStore& version : earlier)
        for (const IndexedChunk& chunk : version.index.chunks)
            if (!known.contains(chunk.digest)) {
                IndexedChunk copy = chunk;
                copy.pack = addPack(version.index.packs[chunk.pack]);
                known.emplace(chunk.digest, static_cast<std::uint32_t>(index.chunks.size()));
                index.chunks.push_back(copy);
            }
    std::string pack;
    std::vector<std::uint32_t> newChunks;
    for (const StoreEntry& entry : entries) {
        if (entry.path.ends_with('/')) {
            index.directories.push_back(entry.path.substr(0, entry.path.size() - 1));
            continue;
        }
        IndexedFile file{
            entry.path, entry.data.size(), sha256Digest(entry.data.data(), entry.data.size()), {}};
        ContentChunker chunker(chunking);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(entry.data.data());
        for (std::size_t start = 0; start < entry.data.size();) {
            const std::size_t length =
                chunker.findEnd(bytes + start, entry.data.size() - start).value_or(entry.data.size() - start);
            const std::string content = entry.data.substr(start, length);
            const Sha256Digest digest = sha256Digest(content.data(), content.size());
            auto found = known.find(digest);
            if (found == known.end()) {
                const std::string deflated = deflateBytes(content);
                const std::string& stored = deflated.size() < content.size() ? deflated : content;
                IndexedChunk chunk{digest, static_cast<std::uint32_t>(content.size()), 0, pack.size(),
                                   static_cast<std::uint32_t>(stored.size())};
                pack += stored;
                found = known.emplace(digest, static_cast<std::uint32_t>(index.chunks.size())).first;
                newChunks.push_back(found->second);
                index.chunks.push_back(chunk);
            }
            file.chunks.push_back(found->second);
            start += length;
        }
        index.files.push_back(std::move(file));
    }
    result.packBytes = pack.size();
    if (!pack.empty()) {
        const IndexedPack added{sha256Digest(pack.data(), pack.size()), pack.size()};
        const std::uint32_t number = addPack(added);
        for (const std::uint32_t chunk : newChunks)
            index.chunks[chunk].pack = number;
        std::filesystem::create_directories(root / L"packs");
        writeBytes(root / packStorePath(added.digest), pack);
    }
    result.indexBytes = serializeChunkIndex(index);
    const Sha256Digest digest = sha256Digest(result.indexBytes.data(), result.indexBytes.size());
    result.indexDigest = storeDigestText(digest);
    std::filesystem::create_directories(root / L"indexes");
    writeBytes(root / indexStorePath(digest), result.indexBytes);
    return result;
}

} // namespace launcher::testing
