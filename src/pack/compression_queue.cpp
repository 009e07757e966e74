#include "pack/compression_queue.h"

#include "foundation/error.h"
#include "pack/deflate_policy.h"

#include <chrono>
#include <memory>

namespace launcher {

CompressionQueue::CompressionQueue(const std::vector<PackEntry>& entries, std::wstring spillPrefix,
                                   std::size_t window, CancelToken& token)
    : entries_(entries), slots_(entries.size()), jobOf_(entries.size()), spillPrefix_(std::move(spillPrefix)),
      window_(window), token_(token) {
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

void CompressionQueue::work() noexcept {
    std::unique_ptr<FileCompressor> compressor;
    try {
        compressor = std::make_unique<FileCompressor>();
    } catch (...) {
        const std::lock_guard lock(mutex_);
        workerFailure_ = std::current_exception();
        changed_.notify_all();
        return;
    }
    for (;;) {
        const auto job = nextJob();
        if (job.first == job.second) return;
        compressJob(job, *compressor);
    }
}

// The next job to compress once it is within the window; an empty one when there is none left.
std::pair<std::size_t, std::size_t> CompressionQueue::nextJob() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return stop_ || next_ >= jobs_.size() || next_ < writtenJobs_ + window_; });
    if (stop_ || next_ >= jobs_.size()) return {0, 0};
    return jobs_[next_++];
}

void CompressionQueue::compressJob(std::pair<std::size_t, std::size_t> job, FileCompressor& compressor) {
    std::vector<Slot> done;
    for (std::size_t index = job.first; index < job.second; ++index) {
        Slot& slot = done.emplace_back();
        try {
            throwIfCanceled(token_);
            slot.file = compressor.compress(entries_[index], spillPrefix_ + std::to_wstring(index), token_,
                                            bytesRead_);
        } catch (...) {
            slot.failure = std::current_exception();
            break; // the writer stops there
        }
    }
    const std::lock_guard lock(mutex_);
    for (std::size_t offset = 0; offset < done.size(); ++offset) {
        slots_[job.first + offset] = std::move(done[offset]);
        slots_[job.first + offset].ready = true;
    }
    changed_.notify_all();
}

CompressedFile CompressionQueue::take(std::size_t index, const std::function<void()>& idle) {
    std::unique_lock lock(mutex_);
    while (!slots_[index].ready) {
        if (token_.canceled()) throw Canceled();
        if (workerFailure_) std::rethrow_exception(workerFailure_);
        changed_.wait_for(lock, std::chrono::milliseconds(100));
        lock.unlock();
        idle();
        lock.lock();
    }
    Slot slot = std::move(slots_[index]);
    const std::size_t job = jobOf_[index];
    if (index + 1 == jobs_[job].second) {
        writtenJobs_ = job + 1;
        changed_.notify_all();
    }
    if (slot.failure) std::rethrow_exception(slot.failure);
    return std::move(slot.file);
}

void CompressionQueue::stop() noexcept {
    const std::lock_guard lock(mutex_);
    stop_ = true;
    changed_.notify_all();
}

} // namespace launcher
