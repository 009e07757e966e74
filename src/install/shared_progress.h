#pragma once

// Progress of work spread over several threads, told to the player's callback from one at a time
// and at most every 100 ms: a callback is never called concurrently with itself.
#include "foundation/progress.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace launcher {

class SharedProgress {
public:
    SharedProgress(const ProgressCallback& progress, std::wstring status, std::uint64_t total);

    // Adds `bytes` to what is done, and tells the callback when 100 ms have passed. Any thread.
    void add(std::uint64_t bytes);
    // Tells the callback what is done now, however soon after the last report.
    void report();

    std::uint64_t done() const { return done_.load(); }

private:
    const ProgressCallback& progress_;
    std::wstring status_;
    std::uint64_t total_;
    std::atomic<std::uint64_t> done_{0};
    std::mutex lock_;
    std::uint64_t lastReport_ = 0; // tick count, guarded by lock_
};

} // namespace launcher
