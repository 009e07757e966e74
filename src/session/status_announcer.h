#pragma once

// What a screen reader hears of the session: the window draws every change of its view, but a
// player who cannot see it hears only what is announced. A new status line is always announced,
// interrupting for a failure, together with a new text of the strip below the form (the check, the
// client ready, a failure's reason); during a download, the strip when its step changes and then at
// most once per 10%, so that a download does not flood the reader.
#include "session/launcher_session.h"

#include <optional>
#include <string>
#include <vector>

namespace launcher {

enum class Politeness { polite, assertive };

struct Announcement {
    enum class Source { status, progress } source;
    std::wstring text;
    Politeness politeness;

    friend bool operator==(const Announcement&, const Announcement&) = default;
};

class StatusAnnouncer {
public:
    // What to announce now that the window shows `view`, in order: the progress strip, then the
    // status line. Pure.
    std::vector<Announcement> update(const SessionView& view);

private:
    std::wstring status_;
    std::wstring strip_; // the strip's text outside a download
    std::wstring progressLabel_;
    std::optional<int> progressStep_; // the last 10% step announced
};

} // namespace launcher
