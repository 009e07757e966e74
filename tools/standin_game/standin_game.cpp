// A stand-in for the game client, for the tests and the local demo. Laid out like a Unity client
// (this executable, a non-empty <name>_Data directory and UnityPlayer.dll beside it), it records
// how it was started to "standin-record.json" beside itself and then behaves as told by an
// argument "--standin=<behaviour>" or by the first line of "standin-game.txt" beside it:
//   window[:DELAY_MS]   show a normal window after the delay (default 300 ms)
//   exit                exit at once with code 3
//   owned-dialog        show only a window that has an owner
//   invisible           create a top-level window and never show it
// It closes by itself after 120 s (or "--standin-lifetime=MS"), so a test never leaves it behind.
#include "foundation/file_io.h"
#include "foundation/own_executable.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"

#include <windows.h>
#include <shellapi.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

using namespace launcher;

std::wstring behaviourFromFile(const std::filesystem::path& directory) {
    std::ifstream in(directory / L"standin-game.txt");
    std::string line;
    if (!std::getline(in, line)) return L"window";
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return multiByteToUtf16(line, codePageUtf8);
}

void record(const std::filesystem::path& directory, int argc, wchar_t** argv) {
    nlohmann::json arguments = nlohmann::json::array();
    for (int i = 0; i < argc; ++i)
        arguments.push_back(utf16ToUtf8(argv[i]));
    wchar_t workingDirectory[MAX_PATH * 4] = {};
    ::GetCurrentDirectoryW(static_cast<DWORD>(std::size(workingDirectory)), workingDirectory);
    const nlohmann::json report = {{"arguments", arguments},
                                   {"commandLine", utf16ToUtf8(::GetCommandLineW())},
                                   {"processId", ::GetCurrentProcessId()},
                                   {"workingDirectory", utf16ToUtf8(workingDirectory)}};
    writeFileAtomically(directory / L"standin-record.json", report.dump(2));
}

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_TIMER:
        ::PostQuitMessage(0);
        return 0;
    case WM_DESTROY:
        ::PostQuitMessage(0);
        return 0;
    default:
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

HWND makeWindow(HINSTANCE instance, DWORD style, HWND owner, const wchar_t* title) {
    return ::CreateWindowExW(0, L"TalvoStandIn", title, style, 100, 100, 480, 270, owner, nullptr, instance,
                             nullptr);
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    int argc = 0;
    const UniqueLocalMemory<wchar_t*> arguments{::CommandLineToArgvW(::GetCommandLineW(), &argc)};
    wchar_t** argv = arguments.get();
    const std::filesystem::path directory = ownExecutablePath().parent_path();
    std::wstring behaviour = behaviourFromFile(directory);
    UINT lifetime = 120000;
    for (int i = 1; i < argc; ++i) {
        const std::wstring_view argument = argv[i];
        if (argument.starts_with(L"--standin=")) behaviour = argument.substr(10);
        if (argument.starts_with(L"--standin-lifetime="))
            lifetime = std::stoul(std::wstring(argument.substr(19)));
    }
    record(directory, argc, argv);
    if (behaviour == L"exit") return 3;

    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"TalvoStandIn";
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    ::RegisterClassW(&windowClass);

    HWND timerWindow = nullptr;
    if (behaviour.starts_with(L"window")) {
        const DWORD delay = behaviour.size() > 7 ? std::stoul(behaviour.substr(7)) : 300;
        ::Sleep(delay);
        timerWindow = makeWindow(instance, WS_OVERLAPPEDWINDOW | WS_VISIBLE, nullptr, L"曜石纪元 (stand-in)");
    } else if (behaviour == L"owned-dialog") {
        timerWindow = makeWindow(instance, WS_OVERLAPPEDWINDOW, nullptr, L"hidden owner");
        makeWindow(instance, WS_POPUP | WS_CAPTION | WS_VISIBLE, timerWindow, L"owned dialog");
    } else {
        timerWindow = makeWindow(instance, WS_OVERLAPPEDWINDOW, nullptr, L"invisible");
    }
    ::SetTimer(timerWindow, 1, lifetime, nullptr);

    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return 0;
}
