#include "net/connection_pool.h"

#include "foundation/diagnostic_log.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace launcher {
namespace {

// What the threads of one run share: the next job to take, and the first failure.
class JobRun {
public:
    JobRun(std::size_t jobCount, CancelToken& token, const ConnectionJob& work)
        : jobCount_(jobCount), work_(work), jobs_(token) {}

    // One thread's part: jobs until none are left or the run stops.
    void serve() noexcept {
        setLogThreadName("download");
        try {
            StoreConnection connection;
            for (;;) {
                if (jobs_.token().canceled()) return;
                const std::size_t job = next_.fetch_add(1);
                if (job >= jobCount_) return;
                work_(job, connection, jobs_.token());
            }
        } catch (...) {
            fail(std::current_exception());
        }
    }

    // Keeps the first failure and stops the other jobs. Their Canceled comes later, so it is
    // never the one kept.
    void fail(std::exception_ptr error) noexcept {
        {
            std::lock_guard guard(lock_);
            if (failure_) return;
            failure_ = std::move(error);
        }
        cancel(jobs_.token());
    }

    std::exception_ptr failure() {
        std::lock_guard guard(lock_);
        return failure_;
    }

private:
    const std::size_t jobCount_;
    const ConnectionJob& work_;
    LinkedCancelToken jobs_;
    std::atomic<std::size_t> next_{0};
    std::mutex lock_;
    std::exception_ptr failure_; // guarded by lock_
};

} // namespace

void runOnConnections(std::size_t jobCount, unsigned connections, CancelToken& token,
                      const ConnectionJob& work) {
    throwIfCanceled(token);
    const std::size_t threadCount = std::min<std::size_t>(std::max(connections, 1u), jobCount);
    JobRun run(jobCount, token, work);
    {
        std::vector<std::jthread> threads; // each joined as the block ends, on every path
        try {
            threads.reserve(threadCount);
            for (std::size_t index = 0; index < threadCount; ++index)
                threads.emplace_back([&run] { run.serve(); });
        } catch (...) {
            run.fail(std::current_exception()); // stops the threads already running
        }
    }
    throwIfCanceled(token);
    if (const std::exception_ptr failure = run.failure()) std::rethrow_exception(failure);
}

} // namespace launcher
