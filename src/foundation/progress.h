#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace launcher {

// Reports progress from a worker thread: a status text, a count done and a count total.
// (0, 0) means no amount is known; (1, 1) reports a finished step. May be empty.
using ProgressCallback =
    std::function<void(const std::wstring& status, std::uint64_t done, std::uint64_t total)>;

} // namespace launcher
