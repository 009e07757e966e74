#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace launcher {

struct ProgressCaption {
    std::wstring text;          // what the caption strip shows
    std::optional<int> percent; // bar position 0–100; empty when no total is known (marquee)
};

// The download caption for a progress report: the label, "  P%" when a total is known (P capped
// at 100), then "  D / T MB" with one decimal, or "  已下载 D MB" without a total.
ProgressCaption progressCaption(const std::wstring& label, std::uint64_t done, std::uint64_t total);

} // namespace launcher
