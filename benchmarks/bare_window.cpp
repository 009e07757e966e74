// The floor of the first-frame measurement: a bare program started the same way as the launcher,
// with the same manifest (DPI-aware, common controls 6), that opens a borderless 1105 x 632 window,
// paints it one solid colour with GDI and waits in its message loop. Nothing else, except that it
// writes when its steps ended to the file its command line names, as the launcher logs its own.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

HBRUSH panel = nullptr;

std::uint64_t ticks(const FILETIME& time) {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

std::string steps;

// Milliseconds from the process's creation to now, to a tenth, as the launcher's start-up trace.
void mark(const char* step) {
    FILETIME now{}, created{}, exited{}, kernel{}, user{};
    ::GetSystemTimePreciseAsFileTime(&now);
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    const std::uint64_t since = ticks(now) - ticks(created);
    if (!steps.empty()) steps += ',';
    steps +=
        std::string(step) + ':' + std::to_string(since / 10000) + '.' + std::to_string(since / 1000 % 10);
}

LRESULT CALLBACK bareProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        mark("createWindow");
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        const HDC dc = ::BeginPaint(window, &paint);
        ::FillRect(dc, &paint.rcPaint, panel);
        ::EndPaint(window, &paint);
        return 0;
    }
    case WM_ERASEBKGND:
        return 1;
    case WM_DESTROY:
        ::PostQuitMessage(0);
        return 0;
    default:
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int showState) {
    mark("main");
    panel = ::CreateSolidBrush(RGB(18, 19, 14));
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = bareProcedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = L"GatehouseBareWindow";
    ::RegisterClassExW(&windowClass);
    RECT area{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    constexpr int width = 1105, height = 632;
    const HWND window = ::CreateWindowExW(
        WS_EX_APPWINDOW, windowClass.lpszClassName, L"bare window", WS_POPUP | WS_MINIMIZEBOX,
        area.left + (area.right - area.left - width) / 2, area.top + (area.bottom - area.top - height) / 2,
        width, height, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return 1;
    mark("window");
    ::ShowWindow(window, showState);
    mark("show");
    ::UpdateWindow(window);
    mark("paint");
    std::wstring path = commandLine;
    if (path.size() >= 2 && path.front() == L'"' && path.back() == L'"')
        path = path.substr(1, path.size() - 2);
    if (FILE* out = path.empty() ? nullptr : _wfopen(path.c_str(), L"w")) {
        std::fputs(steps.c_str(), out);
        std::fclose(out);
    }
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return 0; // the brush goes with the process
}
