#pragma once

// What the launcher's start-up prepares before any window exists, for test programs that create
// launcher windows themselves: GDI+ and the common controls.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>
#include <commctrl.h>

namespace launcher::testing {

class WindowPlatform {
public:
    WindowPlatform() {
        // The window thread's apartment, as the launcher's start-up enters it.
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        Gdiplus::GdiplusStartupInput input;
        Gdiplus::GdiplusStartup(&gdiplus_, &input, nullptr);
        INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
        ::InitCommonControlsEx(&controls);
    }
    ~WindowPlatform() {
        Gdiplus::GdiplusShutdown(gdiplus_);
        ::CoUninitialize();
    }
    WindowPlatform(const WindowPlatform&) = delete;
    WindowPlatform& operator=(const WindowPlatform&) = delete;

private:
    ULONG_PTR gdiplus_ = 0;
};

} // namespace launcher::testing
