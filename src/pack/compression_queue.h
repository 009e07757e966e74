#pragma once

// Hands the files of an archive to compression workers in archive order, at most `window` jobs
// ahead of the writer, so that only a few finished files wait in memory at any time. A job is one
// large file or a run of small ones: handing files over one by one cost more in thread switches
// than deflating them.
#include "foundation/cancel_token.h"
#include "pack/archive_writer.h"
#include "pack/file_compression.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace launcher {

class CompressionQueue {
public:
    // Temporary files of large deflated files are named `spillPrefix` and the entry's index.
    CompressionQueue(const std::vector<PackEntry>& entries, std::wstring spillPrefix, std::size_t window,
                     CancelToken& token);

    // The body of a worker thread: compresses jobs until every job is handed out or stop() is called.
    void work() noexcept;

    // The result of the file at `index`, taken in archive order once it is ready; calls `idle`
    // about ten times a second while waiting. Writer thread only. Throws what compressing it threw,
    // Canceled once the token is cancelled.
    CompressedFile take(std::size_t index, const std::function<void()>& idle);

    // Lets every worker return once it has finished its job. Any thread.
    void stop() noexcept;

    // The client file bytes read so far, by all workers. Any thread.
    std::uint64_t bytesRead() const { return bytesRead_.load(); }

private:
    struct Slot {
        bool ready = false;
        std::exception_ptr failure;
        CompressedFile file;
    };

    std::pair<std::size_t, std::size_t> nextJob();
    void compressJob(std::pair<std::size_t, std::size_t> job, FileCompressor& compressor);

    const std::vector<PackEntry>& entries_;
    std::vector<Slot> slots_;                               // guarded by mutex_
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

} // namespace launcher
