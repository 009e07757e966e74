#include "install/shared_progress.h"

#include <windows.h>

namespace launcher {

SharedProgress::SharedProgress(const ProgressCallback& progress, std::wstring status, std::uint64_t total)
    : progress_(progress), status_(std::move(status)), total_(total) {}

void SharedProgress::add(std::uint64_t bytes) {
    done_ += bytes;
    if (!progress_) return;
    const ULONGLONG now = ::GetTickCount64();
    std::unique_lock guard(lock_, std::try_to_lock); // another thread is reporting: this one goes on
    if (!guard.owns_lock() || now - lastReport_ < 100) return;
    lastReport_ = now;
    progress_(status_, done_.load(), total_);
}

void SharedProgress::report() {
    if (!progress_) return;
    std::lock_guard guard(lock_);
    lastReport_ = ::GetTickCount64();
    progress_(status_, done_.load(), total_);
}

} // namespace launcher
