#include "install/installed_chunks.h"

#include "filesystem/directory_links.h"
#include "filesystem/path_rules.h"
#include "foundation/error.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"
#include "install/shared_progress.h"
#include "update/content_chunker.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

namespace launcher {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t readPieceBytes = 1u << 20;

struct Candidate {
    std::size_t indexFile;
    fs::path path;
    std::uint64_t size;
};

struct FoundChunk {
    Sha256Digest digest;
    std::uint64_t offset;
    std::uint32_t size;
};

// The installed files worth reading: at a path of the index, a plain file, not behind a link.
std::vector<Candidate> candidates(const fs::path& directory, const ChunkIndex& index) {
    std::vector<Candidate> found;
    try {
        rejectDirectoryLinks(directory);
    } catch (const Error&) {
        return found;
    }
    for (std::size_t i = 0; i < index.files.size(); ++i) {
        try {
            const fs::path path =
                resolvePackagePath(directory, multiByteToUtf16(index.files[i].path, codePageUtf8));
            WIN32_FILE_ATTRIBUTE_DATA data{};
            if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
                (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
                continue;
            const std::uint64_t size = std::uint64_t{data.nFileSizeHigh} << 32 | data.nFileSizeLow;
            if (size > 0) found.push_back({i, path, size});
        } catch (const Error&) {
            // a path the rules refuse holds nothing the install may use
        }
    }
    return found;
}

// The chunks of one file, or nothing when it cannot be read whole.
std::optional<std::vector<FoundChunk>> cutFile(const Candidate& file, const ChunkingParameters& chunking,
                                               std::vector<std::uint8_t>& buffer, CancelToken& token,
                                               SharedProgress& progress) {
    const UniqueFile handle{::CreateFileW(file.path.c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_SEQUENTIAL_SCAN, nullptr)};
    if (!handle) return std::nullopt;
    std::vector<FoundChunk> chunks;
    ContentChunker chunker(chunking);
    Sha256Hash hash;
    std::uint64_t start = 0;
    std::uint64_t position = 0;
    for (;;) {
        throwIfCanceled(token);
        DWORD read = 0;
        if (!::ReadFile(handle.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr))
            return std::nullopt;
        if (read == 0) break;
        std::size_t used = 0;
        while (used < read) {
            const std::optional<std::size_t> end = chunker.findEnd(buffer.data() + used, read - used);
            const std::size_t take = end ? *end : read - used;
            hash.update(buffer.data() + used, take);
            used += take;
            position += take;
            if (end) {
                chunks.push_back({hash.finish(), start, static_cast<std::uint32_t>(position - start)});
                hash = Sha256Hash();
                start = position;
            }
        }
        progress.add(read);
    }
    if (position > start)
        chunks.push_back({hash.finish(), start, static_cast<std::uint32_t>(position - start)});
    return chunks;
}

bool sameContent(const ChunkIndex& index, const IndexedFile& file, const std::vector<FoundChunk>& chunks) {
    return chunks.size() == file.chunks.size() &&
           std::equal(chunks.begin(), chunks.end(), file.chunks.begin(),
                      [&](const FoundChunk& found, std::uint32_t chunk) {
                          return found.digest == index.chunks[chunk].digest &&
                                 found.size == index.chunks[chunk].size;
                      });
}

} // namespace

fs::path InstalledChunks::path(const ChunkIndex& index, std::uint32_t file) const {
    return resolvePackagePath(directory, multiByteToUtf16(index.files[files[file]].path, codePageUtf8));
}

InstalledChunks findInstalledChunks(const fs::path& directory, const ChunkIndex& index, CancelToken& token,
                                    const ProgressCallback& progress) {
    InstalledChunks result;
    result.directory = directory;
    result.sameFile.resize(index.files.size());
    const std::vector<Candidate> files = candidates(directory, index);
    std::uint64_t total = 0;
    for (const Candidate& file : files)
        total += file.size;
    SharedProgress shared(progress, L"正在比对已安装的客户端", total);
    shared.report();

    std::mutex lock;
    std::atomic<std::size_t> next{0};
    std::exception_ptr failure;
    const auto work = [&] {
        std::vector<std::uint8_t> buffer(readPieceBytes);
        try {
            for (std::size_t job = next++; job < files.size() && !token.canceled(); job = next++) {
                const std::optional<std::vector<FoundChunk>> chunks =
                    cutFile(files[job], index.chunking, buffer, token, shared);
                if (!chunks) continue;
                std::lock_guard guard(lock);
                const auto number = static_cast<std::uint32_t>(result.files.size());
                result.files.push_back(static_cast<std::uint32_t>(files[job].indexFile));
                for (const FoundChunk& chunk : *chunks)
                    result.chunks.try_emplace(chunk.digest, InstalledChunk{number, chunk.offset, chunk.size});
                if (sameContent(index, index.files[files[job].indexFile], *chunks))
                    result.sameFile[files[job].indexFile] = number;
            }
        } catch (...) {
            std::lock_guard guard(lock);
            if (!failure) failure = std::current_exception();
        }
    };
    // Hashing is the cost: one reader per processor, up to four.
    const unsigned readers = 4u;
    {
        std::vector<std::jthread> threads;
        for (unsigned i = 1; i < readers; ++i)
            threads.emplace_back(work);
        work();
    }
    if (failure) std::rethrow_exception(failure);
    throwIfCanceled(token);
    result.bytesRead = shared.done();
    shared.report();
    return result;
}

} // namespace launcher
