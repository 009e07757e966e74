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
#include <tuple>
#include <utility>

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

// Reads up to `count` bytes; fewer only at the end of the file (a file on disk reads short only
// there, which spares a call per small file).
std::size_t readSome(HANDLE file, char* buffer, std::size_t count, const std::wstring& source) {
    std::size_t done = 0;
    while (done < count) {
        DWORD read = 0;
        if (!::ReadFile(file, buffer + done, static_cast<DWORD>(count - done), &read, nullptr))
            throwReadFailure(source);
        done += read;
        if (read == 0 || done < count) break;
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

// One raw deflate stream, reset between files: making a fresh one for each of thousands of small
// files cost more than deflating them. A reset stream writes the same bytes as a fresh one.
class Deflater {
public:
    Deflater() {
        if (deflateInit2(&stream_, deflateLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            throw std::bad_alloc();
    }
    ~Deflater() { deflateEnd(&stream_); }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    z_stream& reset() {
        deflateReset(&stream_);
        return stream_;
    }

private:
    z_stream stream_{};
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

// What one worker thread keeps from file to file.
struct WorkerState {
    Deflater deflater;
    std::string input;
};

void compressInMemory(const PackEntry& entry, CompressedFile& result, WorkerState& worker,
                      std::atomic<std::uint64_t>& bytesRead) {
    const UniqueFile file = openSource(entry.source);
    const std::size_t size = static_cast<std::size_t>(entry.size);
    // Room for one byte more tells a file that grew since the folder was read, in the same read.
    worker.input.resize(size + 1);
    if (readSome(file.get(), worker.input.data(), size + 1, entry.source) != size) throwChanged(entry.source);
    bytesRead += size;
    const Bytef* input = reinterpret_cast<const Bytef*>(worker.input.data());
    result.crc = crc32_z(0, input, size);

    z_stream& stream = worker.deflater.reset();
    std::string output(deflateBound(&stream, static_cast<uLong>(size)), '\0');
    stream.next_in = const_cast<Bytef*>(input);
    stream.avail_in = static_cast<uInt>(size);
    stream.next_out = reinterpret_cast<Bytef*>(output.data());
    stream.avail_out = static_cast<uInt>(output.size());
    if (deflate(&stream, Z_FINISH) != Z_STREAM_END) throw Error("压缩客户端文件失败。");
    output.resize(stream.total_out);
    result.deflated = output.size() < size;
    result.bytes = result.deflated ? std::move(output) : worker.input.substr(0, size);
    result.compressedSize = result.bytes.size();
}

// Reads an open source from the start to its end in chunks, handing each to `use(bytes, count, last)`,
// and refuses a source whose size is no longer the one the folder showed.
template <typename Use>
void readChunks(HANDLE file, const PackEntry& entry, char* buffer, const CancelToken& token, Use&& use) {
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) throwReadFailure(entry.source);
    std::uint64_t total = 0;
    for (bool last = false; !last;) {
        throwIfCanceled(token);
        const std::size_t read = readSome(file, buffer, chunkBytes, entry.source);
        total += read;
        if (total > entry.size) throwChanged(entry.source);
        last = read < chunkBytes;
        use(buffer, read, last);
    }
    if (total != entry.size) throwChanged(entry.source);
}

// Deflates the whole source and returns its CRC-32 and deflated size. The deflated bytes go to
// `spill` while they may be needed: once they outgrow the bytes read by more than a chunk the file
// will almost surely be stored, and `spill` is given up (set to nullptr) rather than filled with
// bytes nobody reads.
std::pair<std::uint32_t, std::uint64_t> deflateSource(HANDLE file, const PackEntry& entry, HANDLE& spill,
                                                      WorkerState& worker, const CancelToken& token,
                                                      std::atomic<std::uint64_t>* bytesRead) {
    const auto input = std::make_unique<char[]>(chunkBytes);
    const auto output = std::make_unique<char[]>(chunkBytes);
    z_stream& stream = worker.deflater.reset();
    uLong crc = crc32_z(0, nullptr, 0);
    std::uint64_t total = 0;
    readChunks(file, entry, input.get(), token, [&](char* bytes, std::size_t read, bool last) {
        total += read;
        if (bytesRead != nullptr) *bytesRead += read;
        crc = crc32_z(crc, reinterpret_cast<const Bytef*>(bytes), read);
        stream.next_in = reinterpret_cast<Bytef*>(bytes);
        stream.avail_in = static_cast<uInt>(read);
        int status = Z_OK;
        do {
            stream.next_out = reinterpret_cast<Bytef*>(output.get());
            stream.avail_out = static_cast<uInt>(chunkBytes);
            status = deflate(&stream, last ? Z_FINISH : Z_NO_FLUSH);
            if (status == Z_STREAM_ERROR) throw Error("压缩客户端文件失败。");
            if (spill != nullptr) writeAll(spill, output.get(), chunkBytes - stream.avail_out);
        } while (stream.avail_out == 0 || (last && status != Z_STREAM_END));
        if (stream.total_out > total + chunkBytes) spill = nullptr;
    });
    return {static_cast<std::uint32_t>(crc), stream.total_out};
}

// Deflating a large file that ends up stored would cost most of a pack's time: Unity's compressed
// bundles, video and audio do not shrink. Such a file is judged by samples from its start, middle
// and end; when deflate cannot take 1/64 off them, the file is stored without deflating the rest.
// The decision depends only on the file's bytes, so the archive stays the same on every run.
bool samplesShrink(HANDLE file, const PackEntry& entry, WorkerState& worker) {
    constexpr std::uint64_t sampleBytes = 256 << 10;
    worker.input.resize(3 * sampleBytes);
    const std::uint64_t offsets[] = {0, entry.size / 2 - sampleBytes / 2, entry.size - sampleBytes};
    for (std::size_t index = 0; index < 3; ++index) {
        LARGE_INTEGER at{};
        at.QuadPart = static_cast<LONGLONG>(offsets[index]);
        char* sample = worker.input.data() + index * sampleBytes;
        if (!::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) ||
            readSome(file, sample, sampleBytes, entry.source) != sampleBytes)
            throwChanged(entry.source);
    }
    z_stream& stream = worker.deflater.reset();
    std::string output(deflateBound(&stream, 3 * sampleBytes), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(worker.input.data());
    stream.avail_in = 3 * sampleBytes;
    stream.next_out = reinterpret_cast<Bytef*>(output.data());
    stream.avail_out = static_cast<uInt>(output.size());
    if (deflate(&stream, Z_FINISH) != Z_STREAM_END) throw Error("压缩客户端文件失败。");
    return stream.total_out < 3 * sampleBytes - 3 * sampleBytes / 64;
}

void compressLarge(const PackEntry& entry, const std::wstring& spillPath, CompressedFile& result,
                   WorkerState& worker, const CancelToken& token, std::atomic<std::uint64_t>& bytesRead) {
    const UniqueFile file = openSource(entry.source);
    if (!samplesShrink(file.get(), entry, worker)) {
        // Stored: only its CRC-32 is needed now; the writer copies it from the source.
        const auto buffer = std::make_unique<char[]>(chunkBytes);
        uLong crc = crc32_z(0, nullptr, 0);
        readChunks(file.get(), entry, buffer.get(), token, [&](char* bytes, std::size_t read, bool) {
            crc = crc32_z(crc, reinterpret_cast<const Bytef*>(bytes), read);
            bytesRead += read;
        });
        result.crc = static_cast<std::uint32_t>(crc);
        result.compressedSize = entry.size;
        return;
    }
    UniqueFile spill{::CreateFileW(spillPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr)};
    if (!spill) throw Error("无法创建临时文件，请检查磁盘空间和目录权限。");
    HANDLE kept = spill.get();
    std::tie(result.crc, result.compressedSize) =
        deflateSource(file.get(), entry, kept, worker, token, &bytesRead);
    result.deflated = result.compressedSize < entry.size;
    // A stored file is copied from its source again when its turn comes; the spill goes at once.
    if (!result.deflated) {
        result.compressedSize = entry.size;
        return;
    }
    if (kept == nullptr) {
        // Given up too early after all: deflate it once more, this time keeping every byte.
        ::SetFilePointerEx(spill.get(), LARGE_INTEGER{}, nullptr, FILE_BEGIN);
        ::SetEndOfFile(spill.get());
        kept = spill.get();
        const auto again = deflateSource(file.get(), entry, kept, worker, token, nullptr);
        if (again.first != result.crc || kept == nullptr) throwChanged(entry.source);
    }
    result.spill = std::move(spill);
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

// Copies a stored file from its source. A file changed since the worker read it still has its
// size checked here; its CRC-32 no longer matches, which the read-back of the archive refuses.
void copyStored(ArchiveOutput& output, const PackEntry& entry, const CancelToken& token) {
    const UniqueFile file = openSource(entry.source);
    const auto buffer = std::make_unique<char[]>(chunkBytes);
    readChunks(file.get(), entry, buffer.get(), token,
               [&](char* bytes, std::size_t read, bool) { output.write(bytes, read); });
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

// Hands files to the workers in archive order, at most `window` jobs ahead of the writer, so that
// only a few finished files wait in memory at any time. A job is one large file or a run of small
// ones: handing files over one by one cost more in thread switches than deflating them.
class CompressionQueue {
public:
    CompressionQueue(const std::vector<PackEntry>& entries, std::wstring spillPrefix, std::size_t window,
                     CancelToken& token)
        : entries_(entries), results_(entries.size()), jobOf_(entries.size()),
          spillPrefix_(std::move(spillPrefix)), window_(window), token_(token) {
        constexpr std::size_t maxJobEntries = 256;
        std::uint64_t jobBytes = 0;
        for (std::size_t index = 0; index < entries.size(); ++index) {
            const std::uint64_t size = entries[index].size;
            const bool fits = !jobs_.empty() && size <= inMemoryLimit && jobBytes + size <= inMemoryLimit &&
                              index - jobs_.back().first < maxJobEntries &&
                              entries[jobs_.back().first].size <= inMemoryLimit;
            if (fits) {
                jobBytes += size;
            } else {
                jobs_.push_back({index, index});
                jobBytes = size;
            }
            jobs_.back().second = index + 1;
            jobOf_[index] = jobs_.size() - 1;
        }
    }

    void work() noexcept {
        std::unique_ptr<WorkerState> worker;
        try {
            worker = std::make_unique<WorkerState>();
        } catch (...) {
            const std::lock_guard lock(mutex_);
            workerFailure_ = std::current_exception();
            changed_.notify_all();
            return;
        }
        std::vector<CompressedFile> done;
        for (;;) {
            std::pair<std::size_t, std::size_t> job;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(
                    lock, [&] { return stop_ || next_ >= jobs_.size() || next_ < writtenJobs_ + window_; });
                if (stop_ || next_ >= jobs_.size()) return;
                job = jobs_[next_++];
            }
            done.clear();
            for (std::size_t index = job.first; index < job.second; ++index) {
                CompressedFile& result = done.emplace_back();
                try {
                    compress(index, result, *worker);
                } catch (...) {
                    result.failure = std::current_exception();
                    break; // the writer stops there
                }
            }
            const std::lock_guard lock(mutex_);
            for (std::size_t offset = 0; offset < done.size(); ++offset) {
                results_[job.first + offset] = std::move(done[offset]);
                results_[job.first + offset].ready = true;
            }
            changed_.notify_all();
        }
    }

    // The next file's result, once ready; calls `idle` about ten times a second while waiting.
    CompressedFile take(std::size_t index, const std::function<void()>& idle) {
        std::unique_lock lock(mutex_);
        while (!results_[index].ready) {
            if (token_.canceled()) throw Canceled();
            if (workerFailure_) std::rethrow_exception(workerFailure_);
            changed_.wait_for(lock, std::chrono::milliseconds(100));
            lock.unlock();
            idle();
            lock.lock();
        }
        CompressedFile result = std::move(results_[index]);
        const std::size_t job = jobOf_[index];
        if (index + 1 == jobs_[job].second) {
            writtenJobs_ = job + 1;
            changed_.notify_all();
        }
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
    void compress(std::size_t index, CompressedFile& result, WorkerState& worker) {
        throwIfCanceled(token_);
        const PackEntry& entry = entries_[index];
        if (entry.directory) return;
        if (entry.size <= inMemoryLimit)
            compressInMemory(entry, result, worker, bytesRead_);
        else
            compressLarge(entry, spillPrefix_ + std::to_wstring(index), result, worker, token_, bytesRead_);
    }

    const std::vector<PackEntry>& entries_;
    std::vector<CompressedFile> results_;                   // guarded by mutex_
    std::vector<std::pair<std::size_t, std::size_t>> jobs_; // [first, end) entries of each job
    std::vector<std::size_t> jobOf_;
    const std::wstring spillPrefix_;
    const std::size_t window_;
    CancelToken& token_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t next_ = 0;             // the next job to hand out; guarded by mutex_
    std::size_t writtenJobs_ = 0;      // guarded by mutex_
    bool stop_ = false;                // guarded by mutex_
    std::exception_ptr workerFailure_; // a worker that could not start; guarded by mutex_
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
            copyStored(output, entry, token);
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
