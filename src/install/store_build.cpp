#include "install/store_build.h"

#include "foundation/diagnostic_log.h"
#include "foundation/error.h"
#include "foundation/path_normal.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"
#include "install/package_extraction.h"
#include "filesystem/path_rules.h"
#include "install/shared_progress.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

namespace launcher {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr const char* unwritableFile = "无法写入客户端文件，请检查磁盘空间和目录权限。";
constexpr std::size_t copyPieceBytes = 1u << 20;

bool readAt(HANDLE file, std::uint64_t offset, std::uint8_t* bytes, DWORD size) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD read = 0;
    return ::ReadFile(file, bytes, size, &read, &at) && read == size;
}

// Keeps the last source file open: the chunks of one file mostly come from one installed file or
// one bundle in a row.
class SourceFiles {
public:
    HANDLE open(const fs::path& path) {
        if (path != path_ || !file_) {
            file_.reset(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            path_ = path;
        }
        return file_.get();
    }

private:
    fs::path path_;
    UniqueFile file_;
};

class FileBuilder {
public:
    FileBuilder(const ChunkIndex& index, const InstalledChunks& installed, const ChunkCache& cache,
                CancelToken& token, SharedProgress& progress)
        : index_(index), installed_(installed), cache_(cache), token_(token), progress_(progress),
          buffer_(copyPieceBytes) {}

    void build(const IndexedFile& file, const std::wstring& target) {
        const UniqueFile output{::CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                              FILE_ATTRIBUTE_NORMAL, nullptr)};
        if (!output) throw Error(unwritableFile);
        Sha256Hash hash;
        std::uint64_t written = 0;
        for (const std::uint32_t number : file.chunks) {
            throwIfCanceled(token_);
            const IndexedChunk& chunk = index_.chunks[number];
            copyChunk(chunk, output.get(), hash);
            written += chunk.size;
        }
        if (written != file.size || hash.finish() != file.digest) {
            logEvent("store.file_failed", {{"path", file.path}});
            throw Error(damagedEntryMessage);
        }
    }

private:
    // Copies one chunk into `output`, from the installed client when it holds it, else from the
    // cache. A chunk an earlier install cached is read back with its digest checked, as the disk
    // may have changed it since.
    void copyChunk(const IndexedChunk& chunk, HANDLE output, Sha256Hash& fileHash) {
        HANDLE source = nullptr;
        std::uint64_t offset = 0;
        bool verify = false;
        const CachedChunk* cached = nullptr;
        if (const auto found = installed_.chunks.find(chunk.digest); found != installed_.chunks.end()) {
            source = sources_.open(installed_.path(index_, found->second.file));
            offset = found->second.offset;
            verify = true; // the player may have changed the file since it was read
        } else if ((cached = cache_.find(chunk.digest)) != nullptr) {
            source = sources_.open(cache_.bundlePath(cached->bundle));
            offset = cached->offset;
            verify = cached->earlierRun;
        }
        if (source == nullptr || source == INVALID_HANDLE_VALUE) throw Error(damagedEntryMessage);
        std::optional<Sha256Hash> chunkHash;
        if (verify) chunkHash.emplace();
        for (std::uint64_t done = 0; done < chunk.size;) {
            const DWORD piece =
                static_cast<DWORD>(std::min<std::uint64_t>(chunk.size - done, buffer_.size()));
            if (!readAt(source, offset + done, buffer_.data(), piece)) throw Error(damagedEntryMessage);
            DWORD written = 0;
            if (!::WriteFile(output, buffer_.data(), piece, &written, nullptr) || written != piece)
                throw Error(unwritableFile);
            fileHash.update(buffer_.data(), piece);
            if (chunkHash) chunkHash->update(buffer_.data(), piece);
            done += piece;
            progress_.add(piece);
        }
        if (chunkHash && chunkHash->finish() != chunk.digest) {
            logEvent("store.local_chunk_changed", {{"chunk", storeDigestText(chunk.digest)}});
            // The next attempt must fetch it rather than meet the same bytes again.
            if (cached != nullptr) ::DeleteFileW(cache_.bundlePath(cached->bundle).c_str());
            throw Error(damagedEntryMessage);
        }
    }

    const ChunkIndex& index_;
    const InstalledChunks& installed_;
    const ChunkCache& cache_;
    CancelToken& token_;
    SharedProgress& progress_;
    std::vector<std::uint8_t> buffer_;
    SourceFiles sources_;
};

} // namespace

std::uint64_t checkStoreTargets(const ChunkIndex& index, const fs::path& content,
                                const fs::path& installDirectory, std::uint64_t maxTotalBytes) {
    checkPackageEntryCount(index.directories.size() + index.files.size());
    std::uint64_t total = 0;
    PackageEntryPaths paths(normalizedAbsolutePath(content).native(),
                            normalizedAbsolutePath(installDirectory).native());
    for (const std::string& directory : index.directories)
        paths.accept(multiByteToUtf16(directory, codePageUtf8));
    for (const IndexedFile& file : index.files) {
        paths.accept(multiByteToUtf16(file.path, codePageUtf8));
        addPackageEntrySize(total, file.size, maxTotalBytes);
    }
    return total;
}

json buildFromChunks(const ChunkIndex& index, std::uint64_t totalBytes, const fs::path& content,
                     const fs::path& installDirectory, const InstalledChunks& installed,
                     const ChunkCache& cache, CancelToken& token, const ProgressCallback& progress) {
    const std::wstring base = normalizedAbsolutePath(content).native();
    const std::wstring finalBase = normalizedAbsolutePath(installDirectory).native();
    const auto resolve = [&](std::wstring& target, const std::string& path) {
        resolveStagedPackagePathInto(target, base, finalBase, multiByteToUtf16(path, codePageUtf8));
    };
    // Folders first, on one thread: the files' threads then only create files.
    std::wstring target;
    for (const std::string& directory : index.directories) {
        resolve(target, directory);
        createDirectoryChain(target);
    }
    std::wstring lastParent;
    for (const IndexedFile& file : index.files) {
        resolve(target, file.path);
        if (const std::wstring_view parent = std::wstring_view(target).substr(0, target.rfind(L'\\'));
            parent != lastParent) {
            lastParent = parent;
            createDirectoryChain(lastParent);
        }
    }

    SharedProgress shared(progress, L"正在解压客户端", totalBytes);
    shared.report();
    std::vector<std::string> paths(index.files.size()); // as the marker lists them
    std::atomic<std::uint64_t> linked{0};
    LinkedCancelToken stop(token); // the first failure stops the other threads
    std::atomic<std::size_t> next{0};
    std::mutex lock;
    std::exception_ptr failure;
    const auto work = [&] {
        try {
            FileBuilder builder(index, installed, cache, stop.token(), shared);
            std::wstring fileTarget;
            for (std::size_t i = next++; i < index.files.size(); i = next++) {
                throwIfCanceled(stop.token());
                const IndexedFile& file = index.files[i];
                resolve(fileTarget, file.path);
                // An unchanged file costs nothing: the new client shares it with the old one,
                // which goes once the new one is in place. Volumes without links get a copy.
                const std::optional<std::uint32_t> same = installed.sameFile[i];
                if (same &&
                    ::CreateHardLinkW(fileTarget.c_str(), installed.path(index, *same).c_str(), nullptr)) {
                    shared.add(file.size);
                    linked += file.size;
                } else {
                    builder.build(file, fileTarget);
                }
                paths[i] = utf16ToUtf8(std::wstring_view(fileTarget).substr(base.size() + 1));
            }
        } catch (...) {
            std::lock_guard guard(lock);
            if (!failure) failure = std::current_exception();
            cancel(stop.token());
        }
    };
    // Each file costs the file system more than the processor: a few at once keep it busy.
    const unsigned builders = 4u;
    {
        std::vector<std::jthread> threads;
        for (unsigned i = 1; i < builders; ++i)
            threads.emplace_back(work);
        work();
    }
    throwIfCanceled(token);
    if (failure) std::rethrow_exception(failure);
    json files = json::array();
    for (std::size_t i = 0; i < index.files.size(); ++i)
        files.push_back({{"length", index.files[i].size}, {"path", std::move(paths[i])}});
    shared.report();
    logEvent("store.built", {{"files", index.files.size()}, {"linkedBytes", linked.load()}});
    return files;
}

} // namespace launcher
