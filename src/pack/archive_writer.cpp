#include "pack/archive_writer.h"

#include "foundation/error.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"
#include "foundation/unique_name.h"
#include "net/sha256_hash.h"
#include "pack/zip_layout.h"

#include <windows.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

namespace launcher {
namespace {

constexpr std::size_t chunkBytes = 1 << 20;
// Files up to this size are read, deflated and kept whole in memory; larger ones stream.
constexpr std::uint64_t inMemoryLimit = 4 << 20;
constexpr int deflateLevel = 6;

[[noreturn]] void throwReadFailure(const std::wstring& source) {
    throw Error("无法读取客户端文件：" + utf16ToUtf8(source));
}

[[noreturn]] void throwChanged(const std::wstring& source) {
    throw Error("客户端文件在打包时被修改：" + utf16ToUtf8(source));
}

UniqueFile openSource(const std::wstring& source) {
    UniqueFile file{::CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr)};
    if (!file) throwReadFailure(source);
    return file;
}

// Reads up to `count` bytes; fewer only at the end of the file.
std::size_t readSome(HANDLE file, char* buffer, std::size_t count, const std::wstring& source) {
    std::size_t done = 0;
    while (done < count) {
        DWORD read = 0;
        if (!::ReadFile(file, buffer + done, static_cast<DWORD>(count - done), &read, nullptr))
            throwReadFailure(source);
        if (read == 0) break;
        done += read;
    }
    return done;
}

void writeAll(HANDLE file, const char* bytes, std::size_t count) {
    while (count > 0) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count, 1u << 30));
        if (!::WriteFile(file, bytes, chunk, &written, nullptr) || written == 0)
            throw Error("无法写入安装包，请检查磁盘空间。");
        bytes += written;
        count -= written;
    }
}

struct DeflateStream {
    z_stream stream{};
    DeflateStream() {
        if (deflateInit2(&stream, deflateLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            throw std::bad_alloc();
    }
    ~DeflateStream() { deflateEnd(&stream); }
    DeflateStream(const DeflateStream&) = delete;
    DeflateStream& operator=(const DeflateStream&) = delete;
};

// One file made ready for the archive by a worker.
struct CompressedFile {
    bool ready = false;
    std::exception_ptr failure;
    std::uint32_t crc = 0;
    std::uint64_t compressedSize = 0;
    bool deflated = false;
    std::string bytes; // the data as written, when it fits in memory
    UniqueFile spill;  // the deflated data otherwise; deleted when closed
};

void compressInMemory(const PackEntry& entry, CompressedFile& result, std::atomic<std::uint64_t>& bytesRead) {
    const UniqueFile file = openSource(entry.source);
    std::string input(static_cast<std::size_t>(entry.size), '\0');
    // One byte more than expected tells a file that grew since the folder was read.
    char probe = 0;
    if (readSome(file.get(), input.data(), input.size(), entry.source) != input.size() ||
        readSome(file.get(), &probe, 1, entry.source) != 0)
        throwChanged(entry.source);
    bytesRead += input.size();
    result.crc = crc32_z(0, reinterpret_cast<const Bytef*>(input.data()), input.size());

    DeflateStream deflater;
    std::string output(deflateBound(&deflater.stream, static_cast<uLong>(input.size())), '\0');
    deflater.stream.next_in = reinterpret_cast<Bytef*>(input.data());
    deflater.stream.avail_in = static_cast<uInt>(input.size());
    deflater.stream.next_out = reinterpret_cast<Bytef*>(output.data());
    deflater.stream.avail_out = static_cast<uInt>(output.size());
    if (deflate(&deflater.stream, Z_FINISH) != Z_STREAM_END) throw Error("压缩客户端文件失败。");
    output.resize(deflater.stream.total_out);
    result.deflated = output.size() < input.size();
    result.bytes = result.deflated ? std::move(output) : std::move(input);
    result.compressedSize = result.bytes.size();
}

void compressToSpill(const PackEntry& entry, const std::wstring& spillPath, CompressedFile& result,
                     const CancelToken& token, std::atomic<std::uint64_t>& bytesRead) {
    const UniqueFile file = openSource(entry.source);
    UniqueFile spill{::CreateFileW(spillPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr)};
    if (!spill) throw Error("无法创建临时文件，请检查磁盘空间和目录权限。");
    const auto input = std::make_unique<char[]>(chunkBytes);
    const auto output = std::make_unique<char[]>(chunkBytes);
    DeflateStream deflater;
    uLong crc = crc32_z(0, nullptr, 0);
    std::uint64_t total = 0;
    bool finished = false;
    while (!finished) {
        throwIfCanceled(token);
        const std::size_t read = readSome(file.get(), input.get(), chunkBytes, entry.source);
        total += read;
        if (total > entry.size) throwChanged(entry.source);
        bytesRead += read;
        crc = crc32_z(crc, reinterpret_cast<const Bytef*>(input.get()), read);
        finished = read < chunkBytes;
        deflater.stream.next_in = reinterpret_cast<Bytef*>(input.get());
        deflater.stream.avail_in = static_cast<uInt>(read);
        int status = Z_OK;
        do {
            deflater.stream.next_out = reinterpret_cast<Bytef*>(output.get());
            deflater.stream.avail_out = static_cast<uInt>(chunkBytes);
            status = deflate(&deflater.stream, finished ? Z_FINISH : Z_NO_FLUSH);
            if (status == Z_STREAM_ERROR) throw Error("压缩客户端文件失败。");
            writeAll(spill.get(), output.get(), chunkBytes - deflater.stream.avail_out);
        } while (deflater.stream.avail_out == 0 || (finished && status != Z_STREAM_END));
    }
    if (total != entry.size) throwChanged(entry.source);
    result.crc = crc;
    result.compressedSize = deflater.stream.total_out;
    result.deflated = result.compressedSize < entry.size;
    // A stored file is copied from its source again when its turn comes; the spill goes at once.
    if (result.deflated) result.spill = std::move(spill);
    if (!result.deflated) result.compressedSize = entry.size;
}

// The archive file, written once from start to end through one buffer, digested on the way.
class ArchiveOutput {
public:
    explicit ArchiveOutput(const std::filesystem::path& target)
        : file_(::CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                              nullptr)),
          buffer_(std::make_unique<char[]>(chunkBytes)) {
        if (!file_) throw Error("无法创建安装包文件，请检查目录权限。");
    }

    std::uint64_t offset() const { return offset_; }

    void write(const char* bytes, std::size_t count) {
        offset_ += count;
        while (count > 0) {
            const std::size_t room = std::min(count, chunkBytes - used_);
            std::copy_n(bytes, room, buffer_.get() + used_);
            used_ += room;
            bytes += room;
            count -= room;
            if (used_ == chunkBytes) flush();
        }
    }
    void write(std::string_view bytes) { write(bytes.data(), bytes.size()); }

    // Writes out what is buffered, makes it durable, and returns the digest of all bytes.
    std::string finish() {
        flush();
        if (!::FlushFileBuffers(file_.get())) throw Error("无法写入安装包，请检查磁盘空间。");
        file_.reset();
        return hash_.finishHex();
    }

private:
    void flush() {
        hash_.update(buffer_.get(), used_);
        writeAll(file_.get(), buffer_.get(), used_);
        used_ = 0;
    }

    UniqueFile file_;
    std::unique_ptr<char[]> buffer_;
    std::size_t used_ = 0;
    std::uint64_t offset_ = 0;
    Sha256Hash hash_;
};

// Copies a stored file from its source, checking it is still what the worker read.
void copyStored(ArchiveOutput& output, const PackEntry& entry, std::uint32_t crc, const CancelToken& token) {
    const UniqueFile file = openSource(entry.source);
    const auto buffer = std::make_unique<char[]>(chunkBytes);
    uLong check = crc32_z(0, nullptr, 0);
    std::uint64_t total = 0;
    for (;;) {
        throwIfCanceled(token);
        const std::size_t read = readSome(file.get(), buffer.get(), chunkBytes, entry.source);
        total += read;
        if (total > entry.size) throwChanged(entry.source);
        check = crc32_z(check, reinterpret_cast<const Bytef*>(buffer.get()), read);
        output.write(buffer.get(), read);
        if (read < chunkBytes) break;
    }
    if (total != entry.size || check != crc) throwChanged(entry.source);
}

void copySpill(ArchiveOutput& output, HANDLE spill, std::uint64_t size, const CancelToken& token) {
    if (!::SetFilePointerEx(spill, LARGE_INTEGER{}, nullptr, FILE_BEGIN)) throw Error("无法读取临时文件。");
    const auto buffer = std::make_unique<char[]>(chunkBytes);
    std::uint64_t done = 0;
    while (done < size) {
        throwIfCanceled(token);
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(chunkBytes, size - done));
        if (readSome(spill, buffer.get(), want, L"") != want) throw Error("无法读取临时文件。");
        output.write(buffer.get(), want);
        done += want;
    }
}

// Hands files to the workers in archive order, at most `window` ahead of the writer, so that only
// a few finished files wait in memory at any time.
class CompressionQueue {
public:
    CompressionQueue(const std::vector<PackEntry>& entries, std::wstring spillPrefix, std::size_t window,
                     CancelToken& token)
        : entries_(entries), results_(entries.size()), spillPrefix_(std::move(spillPrefix)), window_(window),
          token_(token) {}

    void work() noexcept {
        for (;;) {
            std::size_t index = 0;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(
                    lock, [&] { return stop_ || next_ >= entries_.size() || next_ < written_ + window_; });
                if (stop_ || next_ >= entries_.size()) return;
                index = next_++;
            }
            CompressedFile result;
            try {
                compress(index, result);
            } catch (...) {
                result.failure = std::current_exception();
            }
            const std::lock_guard lock(mutex_);
            result.ready = true;
            results_[index] = std::move(result);
            changed_.notify_all();
        }
    }

    // The next file's result, once ready; calls `idle` about ten times a second while waiting.
    CompressedFile take(std::size_t index, const std::function<void()>& idle) {
        std::unique_lock lock(mutex_);
        while (!results_[index].ready) {
            if (token_.canceled()) throw Canceled();
            changed_.wait_for(lock, std::chrono::milliseconds(100));
            lock.unlock();
            idle();
            lock.lock();
        }
        CompressedFile result = std::move(results_[index]);
        written_ = index + 1;
        changed_.notify_all();
        if (result.failure) std::rethrow_exception(result.failure);
        return result;
    }

    void stop() noexcept {
        const std::lock_guard lock(mutex_);
        stop_ = true;
        changed_.notify_all();
    }

    std::uint64_t bytesRead() const { return bytesRead_.load(); }

private:
    void compress(std::size_t index, CompressedFile& result) {
        throwIfCanceled(token_);
        const PackEntry& entry = entries_[index];
        if (entry.directory) return;
        if (entry.size <= inMemoryLimit)
            compressInMemory(entry, result, bytesRead_);
        else
            compressToSpill(entry, spillPrefix_ + std::to_wstring(index), result, token_, bytesRead_);
    }

    const std::vector<PackEntry>& entries_;
    std::vector<CompressedFile> results_; // guarded by mutex_
    const std::wstring spillPrefix_;
    const std::size_t window_;
    CancelToken& token_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t next_ = 0;    // guarded by mutex_
    std::size_t written_ = 0; // guarded by mutex_
    bool stop_ = false;       // guarded by mutex_
    std::atomic<std::uint64_t> bytesRead_{0};
};

} // namespace

ArchiveSummary writeClientArchive(const std::vector<PackEntry>& entries, const std::filesystem::path& target,
                                  unsigned threads, CancelToken& token, const ArchiveProgress& progress) {
    threads = std::max(1u, threads);
    ArchiveOutput output(target);
    CompressionQueue queue(
        entries, target.native() + L".spill-" + multiByteToUtf16(newUniqueHexName(), codePageUtf8) + L"-",
        2 * threads + 2, token);
    std::vector<std::jthread> workers;
    const ScopeExit stopWorkers([&] {
        queue.stop();
        workers.clear(); // joins
    });
    for (unsigned index = 0; index < threads; ++index)
        workers.emplace_back([&queue] { queue.work(); });

    std::vector<ZipRecord> records;
    records.reserve(entries.size());
    std::uint64_t filesDone = 0;
    const auto report = [&] {
        if (progress) progress(filesDone, queue.bytesRead());
    };
    for (std::size_t index = 0; index < entries.size(); ++index) {
        const PackEntry& entry = entries[index];
        CompressedFile file = queue.take(index, report);
        ZipRecord& record = records.emplace_back(ZipRecord{.name = entry.name,
                                                           .crc = file.crc,
                                                           .compressedSize = file.compressedSize,
                                                           .size = entry.size,
                                                           .headerOffset = output.offset(),
                                                           .deflated = file.deflated,
                                                           .directory = entry.directory});
        output.write(zipLocalHeader(record));
        if (file.spill)
            copySpill(output, file.spill.get(), file.compressedSize, token);
        else if (!file.bytes.empty() || entry.directory || entry.size == 0)
            output.write(file.bytes);
        else
            copyStored(output, entry, file.crc, token);
        if (!entry.directory) ++filesDone;
    }
    report();

    const std::uint64_t directoryOffset = output.offset();
    for (const ZipRecord& record : records)
        output.write(zipCentralHeader(record));
    output.write(zipEndRecords(records.size(), directoryOffset, output.offset() - directoryOffset));
    ArchiveSummary summary{.bytes = output.offset(), .sha256 = {}};
    summary.sha256 = output.finish();
    return summary;
}

} // namespace launcher
