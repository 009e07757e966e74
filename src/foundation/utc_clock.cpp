#include "foundation/utc_clock.h"

#include <windows.h>

namespace launcher {

std::int64_t currentUtcSeconds() {
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    const std::uint64_t ticks = (std::uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
    // FILETIME counts 100 ns from 1601-01-01.
    return static_cast<std::int64_t>(ticks / 10000000) - 11644473600LL;
}

} // namespace launcher
