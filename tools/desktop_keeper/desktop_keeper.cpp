// Keeps the Wine desktop of a test session alive. Wine starts the desktop process (explorer.exe)
// from whichever program first shows a window, and that process inherits the program's standard
// output and error: when it was a test, CTest waited on that test's output until the desktop went
// away, long after the test had passed. Started first, from a script with its output discarded,
// this hidden window makes the desktop ours and keeps it for the whole session.
#include "foundation/unique_handle.h"

#include <windows.h>

#include <string>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = ::DefWindowProcW;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"GatehouseDesktopKeeper";
    ::RegisterClassW(&windowClass);
    // Never shown: a hidden top-level window is enough to hold the desktop.
    if (::CreateWindowExW(0, windowClass.lpszClassName, L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, instance,
                          nullptr) == nullptr)
        return 1;

    // The file named on the command line tells the script that the desktop is up.
    const std::wstring readyFile(commandLine);
    if (!readyFile.empty()) {
        const launcher::UniqueFile file{::CreateFileW(readyFile.c_str(), GENERIC_WRITE, 0, nullptr,
                                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)};
    }
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0)
        ::DispatchMessageW(&message);
    return 0;
}
