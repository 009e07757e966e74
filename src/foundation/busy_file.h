#pragma once

#include "foundation/cancel_token.h"

#include <windows.h>

#include <chrono>
#include <functional>
#include <system_error>

namespace launcher {

// Virus scanners, the search indexer and cloud sync open a freshly written file for a moment, and
// a rename of that file, or of a directory holding it, fails meanwhile with one of these errors.
bool isFileBusyError(const std::error_code& error);

inline constexpr std::chrono::milliseconds busyFileWait{15000};

// Runs `attempt` (returns no error on success) again while it fails with a busy error, for at most
// `limit`, waiting 10 ms, doubling up to 500 ms, between tries. Any other error ends it at once.
// Throws Canceled once `token` (if given) is cancelled. Returns the last attempt's error.
std::error_code retryWhileFileBusy(const std::function<std::error_code()>& attempt, const CancelToken* token,
                                   std::chrono::milliseconds limit = busyFileWait);

// MoveFileExW retried while the file or directory is busy, for at most `limit`. Returns the last
// error, empty on success.
std::error_code moveFileWhenFree(const wchar_t* from, const wchar_t* to, DWORD flags,
                                 const CancelToken* token = nullptr,
                                 std::chrono::milliseconds limit = busyFileWait);

} // namespace launcher
