#pragma once

// What screen readers learn of the painted window: names for controls whose labels are painted
// into the skin, and the status line and progress as live regions that announce their changes.
// Through the platform's accessibility services, reached by COM (oleacc is never linked: it is not
// among the DLLs Windows guards against planting); where they are missing, the events are still
// raised and readers read the controls' window texts.
#include "foundation/unique_handle.h"
#include "session/status_announcer.h"

#include <windows.h>
#include <oleacc.h>

#include <map>
#include <string>

namespace launcher {

class AccessibleWindow {
public:
    AccessibleWindow();
    ~AccessibleWindow();
    AccessibleWindow(const AccessibleWindow&) = delete;
    AccessibleWindow& operator=(const AccessibleWindow&) = delete;

    // Reaches the platform's annotation service, with COM on this thread, and gives it what was
    // set so far. Until then what is set is only kept: the launcher connects once its first frame
    // is painted, so that COM and the service cost the first frame nothing.
    void connect();

    // The name a screen reader gives `control`, in place of its window text.
    void name(HWND control, const std::wstring& text);
    // Makes `control` a live region that reads `text` now, interrupting the reader or not.
    void announce(HWND control, const std::wstring& text, Politeness politeness);
    // Makes `control` a button that reports whether it is pressed in, as a toggle does.
    void setPressed(HWND control, bool pressed);
    // Drops what was set for every control, before they are destroyed.
    void forgetAll() noexcept;

    // What the launcher gave `control` as its name, whether or not the platform took it: Wine's
    // proxies read no annotations, so its tests check the launcher's side here.
    std::wstring nameGivenForTesting(HWND control) const;
    // The state the launcher reports for a toggle `control` (0 for other controls): Wine's proxies
    // ask no annotation server either.
    long stateGivenForTesting(HWND control) const;

private:
    class ToggleState;
    void applyName(HWND control, const std::wstring& text);
    void applyLive(HWND control, Politeness politeness);
    void applyToggle(HWND control, ToggleState* toggle);

    UniqueComReference<IAccPropServices> services_;
    std::map<HWND, std::wstring> names_;
    std::map<HWND, Politeness> live_;
    std::map<HWND, UniqueComReference<ToggleState>> toggles_;
};

} // namespace launcher
