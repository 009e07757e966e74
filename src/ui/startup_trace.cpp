#include "ui/startup_trace.h"

#include "foundation/diagnostic_log.h"

#include <windows.h>

#include <cstdint>
#include <string>

namespace launcher {
namespace {

struct Mark {
    const char* step;
    std::uint64_t time; // 100 ns units since 1601, as the process's creation time
};

Mark marks[24];
int markCount = 0;

std::uint64_t ticks(const FILETIME& time) {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

} // namespace

void markStartup(const char* step) noexcept {
    if (markCount == static_cast<int>(std::size(marks))) return;
    FILETIME now{};
    ::GetSystemTimePreciseAsFileTime(&now);
    marks[markCount++] = {step, ticks(now)};
}

void logStartupSteps() noexcept {
    try {
        FILETIME created{}, exited{}, kernel{}, user{};
        if (markCount == 0 || !::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user))
            return;
        const std::uint64_t start = ticks(created);
        std::string steps;
        for (int i = 0; i < markCount; ++i) {
            if (!steps.empty()) steps += ',';
            const std::uint64_t since = marks[i].time > start ? marks[i].time - start : 0;
            steps += std::string(marks[i].step) + ':' + std::to_string(since / 10000) + '.' +
                     std::to_string(since / 1000 % 10);
        }
        logEvent("launcher.first_frame", {{"steps", steps}});
    } catch (...) {
    }
}

} // namespace launcher
