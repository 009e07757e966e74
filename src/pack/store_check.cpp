#include "pack/store_check.h"

#include "foundation/error.h"
#include "foundation/unique_handle.h"
#include "net/file_digest.h"
#include "pack/store_entries.h"
#include "pack/store_folder.h"
#include "pack/tool_refusal.h"
#include "update/chunk_index.h"
#include "zip/inflate_stream.h"

#include <windows.h>

#include <algorithm>
#include <numeric>

namespace launcher {
namespace {

namespace fs = std::filesystem;

std::string digestText(const Sha256Digest& digest) {
    return storeDigestText(digest);
}

std::string packageText(const Sha256Digest& digest, std::uint64_t size) {
    return "package sha256 " + digestText(digest) + ", " + byteCount(size);
}

// The files of the indexes to check: the one asked for, or every one in the store naming the package.
std::vector<fs::path> indexesToCheck(const fs::path& store, const StoreCheckRequest& request,
                                     const Sha256Digest& packageDigest) {
    if (request.indexFile) return {*request.indexFile};
    std::vector<fs::path> files;
    std::size_t seen = 0;
    forEachStoredIndex(store, [&](const StoredIndex& stored) {
        ++seen;
        if (stored.index.packageDigest == packageDigest) files.push_back(stored.file);
    });
    if (files.empty())
        throw ToolRefusal("内容仓库中没有这个安装包的索引。",
                          aboutFile(store / L"indexes", "store-index-missing",
                                    "an index of package sha256 " + digestText(packageDigest),
                                    "none among " + std::to_string(seen) + " indexes"));
    return files;
}

void checkPacks(const fs::path& store, const ChunkIndex& index, CancelToken& token) {
    for (const IndexedPack& pack : index.packs) {
        const fs::path file = storePackFile(store, pack.digest);
        requireStorePack(file, pack.size);
        const Sha256Digest actual = *parseStoreDigest(sha256OfFile(file, &token));
        if (actual != pack.digest)
            throw ToolRefusal("内容仓库的分块包文件已损坏。",
                              aboutFile(file, "store-pack-digest", digestText(pack.digest) + " (its name)",
                                        digestText(actual)));
    }
}

void readAt(HANDLE file, std::uint64_t offset, char* buffer, std::uint32_t count) {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(offset);
    DWORD read = 0;
    if (!::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) ||
        !::ReadFile(file, buffer, count, &read, nullptr) || read != count)
        throw Error("无法读取文件。");
}

std::string contentText(std::uint64_t size, const Sha256Digest& digest) {
    return std::to_string(size) + " bytes with sha256 " + digestText(digest);
}

// What a chunk's stored bytes in `pack` come to, as a launcher reads them: inflated when they are
// deflated. "N bytes with sha256 D", or why there is no such content.
std::string storedChunkContent(HANDLE pack, const IndexedChunk& chunk, std::string& stored) {
    stored.resize(chunk.storedLength);
    readAt(pack, chunk.offset, stored.data(), chunk.storedLength);
    Sha256Hash hash;
    if (!chunk.deflated()) {
        hash.update(stored.data(), stored.size());
        return contentText(stored.size(), hash.finish());
    }
    try {
        InflateStream inflate(DeflateFraming::raw, chunk.size, "chunk");
        inflate.feed(reinterpret_cast<const std::uint8_t*>(stored.data()), stored.size(),
                     [&](const std::uint8_t* bytes, std::size_t count) { hash.update(bytes, count); });
        return contentText(inflate.finish(), hash.finish());
    } catch (const Error&) {
        return "bytes that do not inflate to at most " + std::to_string(chunk.size) + " bytes";
    }
}

// Each chunk checked in its pack, packs read in order and each chunk once.
void checkChunks(const fs::path& store, const ChunkIndex& index, CancelToken& token) {
    std::vector<std::uint32_t> order(index.chunks.size());
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        const IndexedChunk &x = index.chunks[a], &y = index.chunks[b];
        return x.pack != y.pack ? x.pack < y.pack : x.offset < y.offset;
    });
    std::string stored;
    UniqueFile file;
    std::uint32_t openPack = UINT32_MAX;
    for (const std::uint32_t number : order) {
        throwIfCanceled(token);
        const IndexedChunk& chunk = index.chunks[number];
        const fs::path packFile = storePackFile(store, index.packs[chunk.pack].digest);
        if (chunk.pack != openPack) {
            file.reset(::CreateFileW(packFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!file)
                throw ToolRefusal("无法读取内容仓库的分块包文件。",
                                  aboutFile(packFile, "store-pack-unreadable", {},
                                            systemReason(static_cast<int>(::GetLastError()))));
            openPack = chunk.pack;
        }
        const std::string expected = contentText(chunk.size, chunk.digest);
        const std::string actual = storedChunkContent(file.get(), chunk, stored);
        if (actual != expected)
            throw ToolRefusal(
                "内容仓库的分块已损坏。",
                aboutFile(packFile, "store-chunk",
                          "chunk " + std::to_string(number) + " at offset " + std::to_string(chunk.offset) +
                              " (" + std::to_string(chunk.storedLength) + " stored bytes): " + expected,
                          actual));
    }
}

// Walks the package beside the index: the same folders and files in the same order, and each
// file's bytes cut at its chunks' sizes having those chunks' digests.
class IndexComparison final : public StoreEntryVisitor {
public:
    IndexComparison(const ChunkIndex& index, const fs::path& indexFile)
        : index_(index), indexFile_(indexFile) {}

    void directory(const StoreEntry& entry) override {
        if (directory_ >= index_.directories.size() || index_.directories[directory_] != entry.path)
            refuse("store-directories", entry, nextDirectory(), entry.path);
        ++directory_;
    }
    void beginFile(const StoreEntry& entry) override {
        if (file_ >= index_.files.size() || index_.files[file_].path != entry.path)
            refuse("store-files", entry, nextFile(), entry.path);
        const IndexedFile& listed = index_.files[file_];
        if (listed.size != entry.size)
            refuse("store-file-size", entry, byteCount(listed.size) + " (" + listed.path + ")",
                   byteCount(entry.size));
        entry_ = entry;
        chunk_ = 0;
        inChunk_ = 0;
        fileHash_.emplace();
        chunkHash_.emplace();
    }
    void fileBytes(const std::uint8_t* bytes, std::size_t count) override {
        const IndexedFile& listed = index_.files[file_];
        fileHash_->update(bytes, count);
        while (count > 0) {
            if (chunk_ >= listed.chunks.size())
                refuse("store-file-size", entry_, byteCount(listed.size), "more bytes");
            const IndexedChunk& chunk = index_.chunks[listed.chunks[chunk_]];
            const std::size_t taken =
                static_cast<std::size_t>(std::min<std::uint64_t>(count, chunk.size - inChunk_));
            chunkHash_->update(bytes, taken);
            inChunk_ += taken;
            bytes += taken;
            count -= taken;
            if (inChunk_ < chunk.size) continue;
            const Sha256Digest actual = chunkHash_->finish();
            if (actual != chunk.digest)
                refuse("store-file-bytes", entry_,
                       "chunk " + std::to_string(chunk_ + 1) + " of " + std::to_string(listed.chunks.size()) +
                           " with sha256 " + digestText(chunk.digest),
                       "bytes with sha256 " + digestText(actual));
            ++chunk_;
            inChunk_ = 0;
            chunkHash_.emplace();
        }
    }
    void endFile() override {
        const IndexedFile& listed = index_.files[file_];
        const Sha256Digest actual = fileHash_->finish();
        if (actual != listed.digest)
            refuse("store-file-digest", entry_, "sha256 " + digestText(listed.digest),
                   "sha256 " + digestText(actual));
        ++file_;
    }
    // What the package ended before, if the index lists more.
    void finish() const {
        const StoreEntry end{.path = "(the package's end)", .size = 0, .shown = "(the package's end)"};
        if (file_ < index_.files.size()) refuse("store-files", end, nextFile(), end.path);
        if (directory_ < index_.directories.size())
            refuse("store-directories", end, nextDirectory(), end.path);
    }

private:
    std::string nextFile() const {
        return file_ < index_.files.size() ? index_.files[file_].path + " (the index's next file)"
                                           : "no more files";
    }
    std::string nextDirectory() const {
        return directory_ < index_.directories.size()
                   ? index_.directories[directory_] + " (the index's next folder)"
                   : "no more folders";
    }
    [[noreturn]] void refuse(const std::string& rule, const StoreEntry& entry, const std::string& expected,
                             const std::string& actual) const {
        throw ToolRefusal("索引 " + shownPath(indexFile_.filename()) + " 与安装包的内容不符。",
                          {.rule = rule,
                           .kind = RefusalSubject::entry,
                           .subject = entry.shown,
                           .expected = expected,
                           .actual = actual});
    }

    const ChunkIndex& index_;
    const fs::path& indexFile_;
    std::size_t directory_ = 0;
    std::size_t file_ = 0;
    StoreEntry entry_;
    std::size_t chunk_ = 0;
    std::uint64_t inChunk_ = 0;
    std::optional<Sha256Hash> fileHash_;
    std::optional<Sha256Hash> chunkHash_;
};

CheckedStoreIndex checkIndex(const fs::path& package, const fs::path& store, const fs::path& indexFile,
                             const Sha256Digest& packageDigest, std::uint64_t packageSize, CancelToken& token,
                             const ProgressCallback& progress) {
    const StoredIndex stored = readStoredIndex(indexFile);
    const ChunkIndex& index = stored.index;
    if (index.packageDigest != packageDigest || index.packageSize != packageSize)
        throw ToolRefusal("索引所述的安装包不是这个安装包。",
                          aboutFile(indexFile, "store-index-package", packageText(packageDigest, packageSize),
                                    packageText(index.packageDigest, index.packageSize)));
    checkPacks(store, index, token);
    checkChunks(store, index, token);
    IndexComparison comparison(index, indexFile);
    readStoreEntries(package, shownPath(package), token, L"正在核对内容仓库", progress, comparison);
    comparison.finish();
    CheckedStoreIndex checked{.file = indexFile,
                              .version = index.version,
                              .packs = index.packs.size(),
                              .packBytes = 0,
                              .chunks = index.chunks.size(),
                              .files = index.files.size(),
                              .directories = index.directories.size()};
    for (const IndexedPack& pack : index.packs)
        checked.packBytes += pack.size;
    return checked;
}

} // namespace

std::vector<CheckedStoreIndex> checkContentStore(const fs::path& package, const Sha256Digest& packageDigest,
                                                 std::uint64_t packageSize, const StoreCheckRequest& request,
                                                 CancelToken& token, const ProgressCallback& progress) {
    // An index lies in <store>/indexes; its packs in <store>/packs.
    const fs::path store = request.store ? *request.store : request.indexFile->parent_path().parent_path();
    std::vector<CheckedStoreIndex> checked;
    for (const fs::path& file : indexesToCheck(store, request, packageDigest))
        checked.push_back(checkIndex(package, store, file, packageDigest, packageSize, token, progress));
    return checked;
}

} // namespace launcher
