#include "session/status_announcer.h"

namespace launcher {
namespace {

// The caption's label: its text before the percentage and the amounts ("正在下载客户端  42%  ...").
std::wstring captionLabel(const std::wstring& caption) {
    return caption.substr(0, caption.find(L"  "));
}

} // namespace

std::vector<Announcement> StatusAnnouncer::update(const SessionView& view) {
    std::vector<Announcement> said;
    if (view.downloadShown) {
        const std::wstring label = captionLabel(view.caption);
        const std::optional<int> step = view.percent ? std::optional<int>(*view.percent / 10) : std::nullopt;
        if (label != progressLabel_ || step != progressStep_) {
            std::wstring text = label;
            if (view.percent) text += L" " + std::to_wstring(*step * 10) + L"%";
            // Within one step of the same label nothing new is said; a new label always is.
            said.push_back({Announcement::Source::progress, std::move(text), Politeness::polite});
            progressLabel_ = label;
            progressStep_ = step;
        }
    } else if (!progressLabel_.empty()) {
        progressLabel_.clear();
        progressStep_.reset();
    }
    if (view.status != status_) {
        status_ = view.status;
        said.push_back({Announcement::Source::status, view.status,
                        view.statusKind == StatusKind::error ? Politeness::assertive : Politeness::polite});
    }
    return said;
}

} // namespace launcher
