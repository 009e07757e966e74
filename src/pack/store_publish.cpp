#include "pack/store_publish.h"

#include "config/deployment.h"
#include "config/endpoint_rules.h"
#include "foundation/error.h"
#include "foundation/file_io.h"
#include "foundation/text.h"
#include "pack/deflate_policy.h"
#include "pack/store_entries.h"
#include "pack/store_folder.h"
#include "pack/store_pack_writer.h"
#include "pack/tool_refusal.h"
#include "update/content_chunker.h"

#include <zlib.h>

#include <map>
#include <memory>
#include <new>
#include <optional>
#include <set>
#include <string_view>

namespace launcher {
namespace {

namespace fs = std::filesystem;

// Where a chunk the store already holds lies.
struct KnownChunk {
    IndexedPack pack;
    std::uint64_t offset = 0;
    std::uint32_t size = 0;
    std::uint32_t storedLength = 0;
};
using ChunkCatalogue = std::map<Sha256Digest, KnownChunk>;

// Every chunk the store's indexes list, from packs that are there with their size.
ChunkCatalogue readCatalogue(const fs::path& store, CancelToken& token) {
    ChunkCatalogue known;
    std::set<Sha256Digest> packsSeen;
    forEachStoredIndex(store, [&](const StoredIndex& stored) {
        throwIfCanceled(token);
        for (const IndexedPack& pack : stored.index.packs)
            if (packsSeen.insert(pack.digest).second)
                requireStorePack(storePackFile(store, pack.digest), pack.size);
        for (const IndexedChunk& chunk : stored.index.chunks)
            known.try_emplace(chunk.digest, KnownChunk{stored.index.packs[chunk.pack], chunk.offset,
                                                       chunk.size, chunk.storedLength});
    });
    return known;
}

// Raw deflate of one chunk at a time, one stream reset between chunks.
class ChunkDeflater {
public:
    ChunkDeflater() : output_(std::make_unique<Bytef[]>(maxChunkBytes)) {
        if (deflateInit2(&stream_, deflateLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            throw std::bad_alloc();
    }
    ~ChunkDeflater() { deflateEnd(&stream_); }
    ChunkDeflater(const ChunkDeflater&) = delete;
    ChunkDeflater& operator=(const ChunkDeflater&) = delete;

    // The deflated bytes of `content`, or nothing when they would not be strictly fewer.
    std::optional<std::string_view> deflated(std::string_view content) {
        if (content.size() < 2) return std::nullopt;
        // Compressed textures, audio and video, most of a client, do not shrink: judged by their start,
        // they are stored without deflating the whole chunk for nothing.
        if (content.size() > 2 * sampleBytes &&
            !samplesShrink(sampleBytes, deflateInto(content.substr(0, sampleBytes), maxChunkBytes)))
            return std::nullopt;
        // Room for one byte fewer than the content: a stream that does not end in it is not worth it.
        const std::uint64_t size = deflateInto(content, content.size() - 1);
        if (size == 0) return std::nullopt;
        return std::string_view(reinterpret_cast<const char*>(output_.get()), size);
    }

private:
    static constexpr std::size_t sampleBytes = 64 << 10;

    // The size of `input` deflated whole into at most `room` bytes, or 0 when it does not fit.
    std::uint64_t deflateInto(std::string_view input, std::size_t room) {
        deflateReset(&stream_);
        stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
        stream_.avail_in = static_cast<uInt>(input.size());
        stream_.next_out = output_.get();
        stream_.avail_out = static_cast<uInt>(room);
        return deflate(&stream_, Z_FINISH) == Z_STREAM_END ? stream_.total_out : 0;
    }

    z_stream stream_{};
    std::unique_ptr<Bytef[]> output_;
};

// Builds the version's index from the package's entries, writing the chunks the store lacks.
class StoreVersionWriter final : public StoreEntryVisitor {
public:
    StoreVersionWriter(const StoreTarget& target, ChunkCatalogue known, ChunkIndex& index,
                       StorePublication& summary)
        : store_(target.folder), packBytes_(target.packBytes), known_(std::move(known)), index_(index),
          summary_(summary) {}

    void directory(const StoreEntry& entry) override { index_.directories.push_back(entry.path); }
    void beginFile(const StoreEntry& entry) override {
        IndexedFile& file = index_.files.emplace_back();
        file.path = entry.path;
        file.size = entry.size;
        chunker_.emplace(index_.chunking);
        fileHash_.emplace();
        pending_.clear();
    }
    void fileBytes(const std::uint8_t* bytes, std::size_t count) override {
        fileHash_->update(bytes, count);
        while (count > 0) {
            const std::optional<std::size_t> end = chunker_->findEnd(bytes, count);
            const std::size_t taken = end.value_or(count);
            pending_.append(reinterpret_cast<const char*>(bytes), taken);
            if (end) addChunk();
            bytes += taken;
            count -= taken;
        }
    }
    void endFile() override {
        if (!pending_.empty()) addChunk();
        index_.files.back().digest = fileHash_->finish();
    }
    void finish() {
        if (pack_) closePack();
    }

private:
    void addChunk() {
        const Sha256Digest digest = sha256Digest(pending_.data(), pending_.size());
        // Within one version a chunk is stored and listed once, however many files hold it.
        const auto [slot, added] =
            slots_.try_emplace(digest, static_cast<std::uint32_t>(index_.chunks.size()));
        if (added) {
            const auto known = known_.find(digest);
            index_.chunks.push_back(known != known_.end() ? reused(digest, known->second) : stored(digest));
        }
        index_.files.back().chunks.push_back(slot->second);
        pending_.clear();
    }

    IndexedChunk reused(const Sha256Digest& digest, const KnownChunk& known) {
        const auto [slot, added] =
            packSlots_.try_emplace(known.pack.digest, static_cast<std::uint32_t>(index_.packs.size()));
        if (added) index_.packs.push_back(known.pack);
        return {digest, known.size, slot->second, known.offset, known.storedLength};
    }

    IndexedChunk stored(const Sha256Digest& digest) {
        const std::string_view bytes = deflater_.deflated(pending_).value_or(pending_);
        if (pack_ && pack_->size() + bytes.size() > packBytes_) closePack();
        if (!pack_) {
            pack_.emplace(store_ / L"packs");
            newPackSlot_ = static_cast<std::uint32_t>(index_.packs.size());
            index_.packs.push_back({}); // named once it is finished
        }
        const std::uint64_t offset = pack_->append(bytes.data(), bytes.size());
        ++summary_.newChunks;
        summary_.newChunkBytes += pending_.size();
        return {digest, static_cast<std::uint32_t>(pending_.size()), newPackSlot_, offset,
                static_cast<std::uint32_t>(bytes.size())};
    }

    void closePack() {
        const IndexedPack pack = pack_->finish();
        pack_.reset();
        index_.packs[newPackSlot_] = pack;
        summary_.upload.push_back(packStorePath(pack.digest));
        summary_.newPackBytes += pack.size;
    }

    fs::path store_;
    std::uint64_t packBytes_;
    ChunkCatalogue known_;
    ChunkIndex& index_;
    StorePublication& summary_;
    std::map<Sha256Digest, std::uint32_t> slots_;     // chunk digest -> index_.chunks
    std::map<Sha256Digest, std::uint32_t> packSlots_; // existing pack -> index_.packs
    std::optional<ContentChunker> chunker_;
    std::optional<Sha256Hash> fileHash_;
    std::string pending_; // the chunk being cut: at most the chunking's maximum
    ChunkDeflater deflater_;
    std::optional<StorePackWriter> pack_;
    std::uint32_t newPackSlot_ = 0;
};

// The index as launchers will fetch it, checked the way they read it before it is written.
void writeIndex(const fs::path& store, const ChunkIndex& index, StorePublication& summary,
                const std::string& url) {
    const std::string bytes = serializeChunkIndex(index);
    summary.indexDigest = sha256Digest(bytes.data(), bytes.size());
    summary.indexSize = bytes.size();
    const fs::path file = storeIndexFile(store, summary.indexDigest);
    if (bytes.size() > maxChunkIndexBytes)
        throw ToolRefusal("客户端分块索引过大，启动器不会读取。",
                          aboutFile(file, "store-index-size", "at most " + byteCount(maxChunkIndexBytes),
                                    byteCount(bytes.size())));
    parseChunkIndex(bytes);
    try {
        fs::create_directories(file.parent_path());
        writeFileAtomically(file, bytes);
    } catch (...) {
        rethrowNamingFile(file, "store-write", "无法写入内容仓库，请检查磁盘空间和目录权限。");
    }
    summary.indexUrl = url + indexStorePath(summary.indexDigest);
    summary.upload.push_back(indexStorePath(summary.indexDigest));
}

} // namespace

void checkStoreUrl(const std::string& url) {
    std::wstring wide;
    try {
        wide = multiByteToUtf16(url, codePageUtf8);
    } catch (const Error&) {
        // Not UTF-8: refused below as the empty text.
    }
    // The index is fetched here, and the packs beside it ("../packs/..."): both under the address.
    const std::wstring probe = wide + multiByteToUtf16(indexStorePath(Sha256Digest{}), codePageUtf8);
    if (wide.ends_with(L'/') && isAllowedEndpoint(probe, EndpointPurpose::update)) return;
    throw ToolRefusal("内容仓库地址不是启动器允许的地址。",
                      {.rule = "store-url",
                       .kind = RefusalSubject::address,
                       .subject = url,
                       .expected = "an address ending in \"/\": https://<any host>/..., or http://" +
                                   utf16ToUtf8(packageHost) + utf16ToUtf8(packagePathPrefix) +
                                   "... on port 80 (the package host this tool was built for)",
                       .actual = url});
}

StorePublication publishToStore(const StoreTarget& target, const fs::path& package,
                                const std::string& version, const Sha256Digest& packageDigest,
                                std::uint64_t packageSize, CancelToken& token,
                                const ProgressCallback& progress) {
    checkStoreUrl(target.url);
    StorePublication summary;
    ChunkIndex index;
    index.version = version;
    index.packageDigest = packageDigest;
    index.packageSize = packageSize;
    {
        StoreVersionWriter writer(target, readCatalogue(target.folder, token), index, summary);
        readStoreEntries(package, shownPath(package), token, L"正在写入内容仓库", progress, writer);
        writer.finish();
    }
    summary.chunks = index.chunks.size();
    writeIndex(target.folder, index, summary, target.url);
    return summary;
}

nlohmann::json storeIndexMember(const StorePublication& publication) {
    return {{"sha256", storeDigestText(publication.indexDigest)},
            {"size", publication.indexSize},
            {"url", publication.indexUrl}};
}

} // namespace launcher
