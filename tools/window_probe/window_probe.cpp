// Prints where the controls of a running program's window lie on the screen, so that scripts which
// drive it through the X display click on the controls themselves instead of on coordinates copied
// from the code that lays them out (scripts/lib/window-controls.sh reads the output).
//
//   window_probe [CLASS [TITLE_PREFIX]]
//
// Finds the first visible top-level window of CLASS (the launcher's by default) whose title starts
// with TITLE_PREFIX, and prints one line for it and one for each control inside it, at any depth:
//   window X Y WIDTH HEIGHT VISIBLE ENABLED CLASS
//   ID X Y WIDTH HEIGHT VISIBLE ENABLED CLASS
// in screen coordinates (which are the X display's under Wine). Exits 1 when there is no such window.
#include <windows.h>

#include <string>
#include <string_view>

namespace {

// The launcher's window class (src/ui/window_procedure.cpp).
constexpr const wchar_t* launcherClass = L"PCtalvoNativeLauncher";

struct Search {
    std::wstring_view className;
    std::wstring_view titlePrefix;
    HWND found = nullptr;
};

std::wstring classOf(HWND window) {
    wchar_t name[256] = {};
    const int length = ::GetClassNameW(window, name, 256);
    return std::wstring(name, length > 0 ? length : 0);
}

std::wstring titleOf(HWND window) {
    std::wstring title(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    title.resize(
        static_cast<std::size_t>(::GetWindowTextW(window, title.data(), static_cast<int>(title.size()))));
    return title;
}

BOOL CALLBACK considerWindow(HWND window, LPARAM context) noexcept {
    auto& search = *reinterpret_cast<Search*>(context);
    try {
        if (!::IsWindowVisible(window) || classOf(window) != search.className ||
            !titleOf(window).starts_with(search.titlePrefix))
            return TRUE;
    } catch (...) {
        return TRUE;
    }
    search.found = window;
    return FALSE;
}

std::string utf8Of(const std::wstring& text) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                          nullptr);
    return bytes;
}

// "X Y WIDTH HEIGHT VISIBLE ENABLED CLASS" of a window.
std::string describe(HWND window) {
    RECT area{};
    ::GetWindowRect(window, &area);
    return std::to_string(area.left) + " " + std::to_string(area.top) + " " +
           std::to_string(area.right - area.left) + " " + std::to_string(area.bottom - area.top) + " " +
           (::IsWindowVisible(window) ? "1" : "0") + " " + (::IsWindowEnabled(window) ? "1" : "0") + " " +
           utf8Of(classOf(window)) + "\n";
}

BOOL CALLBACK addControl(HWND control, LPARAM context) noexcept {
    try {
        *reinterpret_cast<std::string*>(context) +=
            std::to_string(::GetDlgCtrlID(control)) + " " + describe(control);
    } catch (...) {
        return FALSE;
    }
    return TRUE;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    Search search{.className = argc > 1 ? argv[1] : launcherClass, .titlePrefix = argc > 2 ? argv[2] : L""};
    ::EnumWindows(considerWindow, reinterpret_cast<LPARAM>(&search));
    if (search.found == nullptr) return 1;
    std::string lines = "window " + describe(search.found);
    ::EnumChildWindows(search.found, addControl, reinterpret_cast<LPARAM>(&lines));
    // Written as bytes: the C runtime's text mode would end each line with a carriage return.
    DWORD written = 0;
    return ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), lines.data(), static_cast<DWORD>(lines.size()),
                       &written, nullptr)
               ? 0
               : 1;
}
