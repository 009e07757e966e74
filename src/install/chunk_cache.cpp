#include "install/chunk_cache.h"

#include "filesystem/directory_links.h"
#include "foundation/diagnostic_log.h"
#include "foundation/error.h"
#include "foundation/text.h"
#include "foundation/unique_name.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

namespace launcher {
namespace {

namespace fs = std::filesystem;

constexpr const char* unwritableCache = "无法写入客户端文件，请检查磁盘空间和目录权限。";
constexpr char bundleMagic[8] = {'G', 'H', 'C', 'H', 'U', 'N', 'K', '1'};
constexpr std::size_t entryBytes = 32 + 4;
constexpr std::size_t tailBytes = 4 + sizeof bundleMagic;
// Big enough that a first install makes few files, small enough that a killed one loses little.
constexpr std::uint64_t bundleTargetBytes = 4u << 20;

void writeAll(HANDLE file, const void* bytes, std::size_t size) {
    const auto* next = static_cast<const std::uint8_t*>(bytes);
    while (size > 0) {
        const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(file, next, piece, &written, nullptr) || written != piece)
            throw Error(unwritableCache);
        next += piece;
        size -= piece;
    }
}

bool readAt(HANDLE file, std::uint64_t offset, void* bytes, DWORD size) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD read = 0;
    return ::ReadFile(file, bytes, size, &read, &at) && read == size;
}

void removeFile(const fs::path& file) noexcept {
    ::DeleteFileW(file.c_str());
}

} // namespace

ChunkCache::ChunkCache(fs::path folder) : folder_(std::move(folder)) {
    std::error_code error;
    fs::create_directories(folder_, error);
    if (error) throw Error(unwritableCache);
    std::vector<fs::path> found;
    for (fs::directory_iterator entry(folder_, error), end; !error && entry != end; entry.increment(error))
        found.push_back(entry->path());
    for (const fs::path& file : found) {
        if (file.extension() == L".chunks")
            readBundle(file);
        else if (file.extension() == L".part")
            removeFile(file); // a bundle a killed launcher did not finish
    }
}

// Reads a bundle's table; one that cannot be read whole is removed, its chunks fetched again.
void ChunkCache::readBundle(const fs::path& bundle) {
    const UniqueFile file{::CreateFileW(bundle.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
    LARGE_INTEGER size{};
    std::uint8_t tail[tailBytes];
    bool valid = file && ::GetFileSizeEx(file.get(), &size) &&
                 static_cast<std::uint64_t>(size.QuadPart) >= tailBytes &&
                 readAt(file.get(), size.QuadPart - tailBytes, tail, tailBytes) &&
                 std::memcmp(tail + 4, bundleMagic, sizeof bundleMagic) == 0;
    std::uint32_t count = 0;
    if (valid) std::memcpy(&count, tail, 4);
    const std::uint64_t tableBytes = std::uint64_t{count} * entryBytes + tailBytes;
    std::vector<std::uint8_t> table;
    valid = valid && tableBytes <= static_cast<std::uint64_t>(size.QuadPart);
    if (valid) {
        table.resize(count * entryBytes);
        valid =
            readAt(file.get(), size.QuadPart - tableBytes, table.data(), static_cast<DWORD>(table.size()));
    }
    std::vector<std::pair<Sha256Digest, std::uint32_t>> chunks(valid ? count : 0);
    std::uint64_t total = 0;
    for (std::size_t i = 0; valid && i < count; ++i) {
        std::memcpy(chunks[i].first.data(), &table[i * entryBytes], 32);
        std::memcpy(&chunks[i].second, &table[i * entryBytes + 32], 4);
        total += chunks[i].second;
    }
    if (!valid || total + tableBytes != static_cast<std::uint64_t>(size.QuadPart)) {
        logEvent("store.cache_bundle_dropped", {{"path", bundle}});
        removeFile(bundle);
        return;
    }
    const auto index = static_cast<std::uint32_t>(bundles_.size());
    bundles_.push_back(bundle);
    std::uint64_t offset = 0;
    for (const auto& [digest, chunkSize] : chunks) {
        chunks_.try_emplace(digest, CachedChunk{index, offset, chunkSize, true});
        offset += chunkSize;
    }
}

const CachedChunk* ChunkCache::find(const Sha256Digest& digest) const {
    const auto found = chunks_.find(digest);
    return found == chunks_.end() ? nullptr : &found->second;
}

void ChunkCache::keepOnly(const DigestSet& needed) {
    std::vector<bool> used(bundles_.size(), false);
    for (const auto& [digest, chunk] : chunks_)
        if (needed.contains(digest)) used[chunk.bundle] = true;
    std::erase_if(chunks_, [&](const auto& entry) { return !used[entry.second.bundle]; });
    for (std::size_t bundle = 0; bundle < bundles_.size(); ++bundle)
        if (!used[bundle]) removeFile(bundles_[bundle]);
}

void ChunkCache::clear() noexcept {
    removeTreeSafely(folder_, folder_.parent_path());
    chunks_.clear();
}

void ChunkCache::addBundle(const fs::path& bundle,
                           const std::vector<std::pair<Sha256Digest, std::uint32_t>>& chunks) {
    std::lock_guard guard(lock_);
    const auto index = static_cast<std::uint32_t>(bundles_.size());
    bundles_.push_back(bundle);
    std::uint64_t offset = 0;
    for (const auto& [digest, size] : chunks) {
        chunks_.try_emplace(digest, CachedChunk{index, offset, size, false});
        offset += size;
    }
}

ChunkBundleWriter::ChunkBundleWriter(ChunkCache& cache) : cache_(cache) {}

ChunkBundleWriter::~ChunkBundleWriter() {
    if (!file_) return;
    file_.reset();
    removeFile(part_);
}

void ChunkBundleWriter::open() {
    part_ = cache_.folder() / (multiByteToUtf16(newUniqueHexName(), codePageUtf8) + L".part");
    file_.reset(
        ::CreateFileW(part_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_) throw Error(unwritableCache);
    kept_ = 0;
    written_ = 0;
    chunks_.clear();
}

void ChunkBundleWriter::write(const std::uint8_t* bytes, std::size_t size) {
    if (!file_) open();
    writeAll(file_.get(), bytes, size);
    written_ += size;
}

void ChunkBundleWriter::keepChunk(const Sha256Digest& digest, std::uint32_t size) {
    if (!file_) open(); // an empty chunk never comes, but a bundle must exist to hold one
    chunks_.emplace_back(digest, size);
    kept_ = written_;
    if (kept_ >= bundleTargetBytes) commit();
}

void ChunkBundleWriter::discardChunk() {
    if (!file_ || written_ == kept_) return;
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(kept_);
    if (!::SetFilePointerEx(file_.get(), at, nullptr, FILE_BEGIN) || !::SetEndOfFile(file_.get()))
        throw Error(unwritableCache);
    written_ = kept_;
}

void ChunkBundleWriter::commit() {
    if (!file_) return;
    discardChunk();
    if (chunks_.empty()) {
        file_.reset();
        removeFile(part_);
        return;
    }
    std::vector<std::uint8_t> table(chunks_.size() * entryBytes + tailBytes);
    for (std::size_t i = 0; i < chunks_.size(); ++i) {
        std::memcpy(&table[i * entryBytes], chunks_[i].first.data(), 32);
        std::memcpy(&table[i * entryBytes + 32], &chunks_[i].second, 4);
    }
    const auto count = static_cast<std::uint32_t>(chunks_.size());
    std::memcpy(&table[chunks_.size() * entryBytes], &count, 4);
    std::memcpy(&table[chunks_.size() * entryBytes + 4], bundleMagic, sizeof bundleMagic);
    writeAll(file_.get(), table.data(), table.size());
    file_.reset();
    fs::path bundle = part_;
    bundle.replace_extension(L".chunks");
    if (!::MoveFileExW(part_.c_str(), bundle.c_str(), 0)) {
        removeFile(part_);
        throw Error(unwritableCache);
    }
    cache_.addBundle(bundle, chunks_);
    chunks_.clear();
}

} // namespace launcher
