#include "session/progress_caption.h"

#include <algorithm>
#include <cwchar>

namespace launcher {

ProgressCaption progressCaption(const std::wstring& label, std::uint64_t done, std::uint64_t total) {
    constexpr double mebibyte = 1048576.0;
    ProgressCaption caption{label, std::nullopt};
    if (total > 0) {
        // Truncated, and capped: a server may send more than it announced.
        const int percent = static_cast<int>(std::min(100.0, static_cast<double>(done) * 100.0 / total));
        caption.percent = percent;
        caption.text += L"  " + std::to_wstring(percent) + L"%";
    }
    if (done != 0 || total != 0) {
        wchar_t amounts[96] = {};
        if (total > 0)
            std::swprintf(amounts, std::size(amounts), L"  %.1f / %.1f MB", done / mebibyte,
                          total / mebibyte);
        else
            std::swprintf(amounts, std::size(amounts), L"  已下载 %.1f MB", done / mebibyte);
        caption.text += amounts;
    }
    return caption;
}

} // namespace launcher
