#include "session/status_announcer.h"

#include <string_view>

namespace launcher {
namespace {

// The caption's label: its text before the percentage and the amounts ("正在下载客户端  42%  ...").
std::wstring captionLabel(const std::wstring& caption) {
    return caption.substr(0, caption.find(L"  "));
}

// The strip's sentence, then the status line's, read as two sentences.
std::wstring sentences(const std::wstring& strip, const std::wstring& status) {
    if (strip.empty() || strip == status) return status;
    const bool ended = std::wstring_view(L"。…！？，.").find(strip.back()) != std::wstring_view::npos;
    return strip + (ended ? L"" : L"。") + status;
}

} // namespace

std::vector<Announcement> StatusAnnouncer::update(const SessionView& view) {
    std::vector<Announcement> said;
    bool stripChanged = false;
    if (view.downloadShown) {
        const std::wstring label = captionLabel(view.caption);
        // Said with its tenth when the caption shows a percentage ("正在准备下载…" shows none).
        const bool counted = view.percent && view.caption.find(L'%') != std::wstring::npos;
        const std::optional<int> step = counted ? std::optional<int>(*view.percent / 10) : std::nullopt;
        if (label != progressLabel_ || step != progressStep_) {
            std::wstring text = label;
            if (step) text += L" " + std::to_wstring(*step * 10) + L"%";
            // Within one step of the same label nothing new is said; a new label always is.
            said.push_back({Announcement::Source::progress, std::move(text), Politeness::polite});
            progressLabel_ = label;
            progressStep_ = step;
        }
        // What the strip says once the download ends is new, even when an earlier one said it.
        strip_.clear();
    } else {
        progressLabel_.clear();
        progressStep_.reset();
        stripChanged = view.caption != strip_;
        strip_ = view.caption;
    }
    if (view.status != status_ || stripChanged) {
        status_ = view.status;
        // Outside a download the strip tells what the status line does not: the check, the client
        // ready, a failure's reason. It is said with the status line, on it.
        said.push_back({Announcement::Source::status,
                        sentences(stripChanged ? view.caption : L"", view.status),
                        view.statusKind == StatusKind::error ? Politeness::assertive : Politeness::polite});
    }
    return said;
}

} // namespace launcher
