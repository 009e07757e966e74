#include "foundation/busy_file.h"

#include <algorithm>
#include <thread>

namespace launcher {

bool isFileBusyError(const std::error_code& error) {
    if (error.category() != std::system_category()) return false;
    const int code = error.value();
    return code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION;
}

std::error_code retryWhileFileBusy(const std::function<std::error_code()>& attempt, const CancelToken* token,
                                   std::chrono::milliseconds limit) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + limit;
    std::chrono::milliseconds pause{10};
    for (;;) {
        if (token != nullptr) throwIfCanceled(*token);
        const std::error_code error = attempt();
        if (!error || !isFileBusyError(error)) return error;
        const Clock::time_point now = Clock::now();
        if (now >= deadline) return error;
        std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
        pause = std::min(pause * 2, std::chrono::milliseconds{500});
    }
}

std::error_code moveFileWhenFree(const wchar_t* from, const wchar_t* to, DWORD flags,
                                 const CancelToken* token, std::chrono::milliseconds limit) {
    return retryWhileFileBusy(
        [&] {
            if (::MoveFileExW(from, to, flags)) return std::error_code();
            return std::error_code(static_cast<int>(::GetLastError()), std::system_category());
        },
        token, limit);
}

} // namespace launcher
