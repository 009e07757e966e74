#pragma once

#include <cstdint>

namespace launcher {

// The system clock in seconds since 1970-01-01 UTC.
std::int64_t currentUtcSeconds();

} // namespace launcher
