// The window's costs under Wine: building the region from the skin, one full paint, and the time
// from starting Gatehouse.exe to its first painted, visible window.
//
//   window_benchmark GATEHOUSE.EXE
#include "foundation/path_normal.h"
#include "foundation/resources.h"
#include "foundation/unique_handle.h"
#include "ui/launcher_window.h"
#include "ui/window_painting.h"
#include "ui/window_skin.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <filesystem>

namespace {

using namespace launcher;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Search {
    DWORD processId;
    bool found = false;
};

BOOL CALLBACK findVisible(HWND window, LPARAM context) {
    auto& search = *reinterpret_cast<Search*>(context);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner == search.processId && ::IsWindowVisible(window)) {
        search.found = true;
        ::PostMessageW(window, WM_CLOSE, 0, 0);
        return FALSE;
    }
    return TRUE;
}

double firstFrame(const fs::path& executable) {
    std::wstring commandLine = L"\"" + executable.native() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION created{};
    const auto start = Clock::now();
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          executable.parent_path().c_str(), &startup, &created))
        return -1;
    const UniqueKernelHandle process{created.hProcess};
    const UniqueKernelHandle thread{created.hThread};
    // The window is shown and painted (UpdateWindow) before the message loop starts.
    Search search{created.dwProcessId};
    while (!search.found && millisecondsSince(start) < 30000) {
        ::EnumWindows(findVisible, reinterpret_cast<LPARAM>(&search));
        if (!search.found) ::Sleep(1);
    }
    const double elapsed = millisecondsSince(start);
    if (::WaitForSingleObject(process.get(), 10000) != WAIT_OBJECT_0) ::TerminateProcess(process.get(), 0);
    return search.found ? elapsed : -1;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fputs("usage: window_benchmark GATEHOUSE.EXE\n", stderr);
        return 2;
    }
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR gdiplus = 0;
    Gdiplus::GdiplusStartup(&gdiplus, &input, nullptr);
    {
        std::unique_ptr<Gdiplus::Bitmap> skin = decodeSkin();
        constexpr int regionRounds = 20;
        auto start = Clock::now();
        for (int i = 0; i < regionRounds; ++i)
            makeSkinRegion(*skin);
        std::printf("region from the skin: %.2f ms\n", millisecondsSince(start) / regionRounds);

        LauncherConfig config{nlohmann::json::parse(loadResourceBytes(builtinConfigResourceId)),
                              L"C:\\Bench"};
        LauncherWindow state(std::move(config));
        state.skin = std::move(skin);
        const UniqueMemoryDc screen{::CreateCompatibleDC(nullptr)};
        const UniqueBitmap canvas{::CreateCompatibleBitmap(::GetDC(nullptr), windowWidth, windowHeight)};
        const HGDIOBJ previous = ::SelectObject(screen.get(), canvas.get());
        constexpr int paintRounds = 50;
        paintWindow(state, screen.get()); // warm the font cache
        start = Clock::now();
        for (int i = 0; i < paintRounds; ++i)
            paintWindow(state, screen.get());
        std::printf("one full paint: %.2f ms\n", millisecondsSince(start) / paintRounds);
        ::SelectObject(screen.get(), previous);
    }
    Gdiplus::GdiplusShutdown(gdiplus);

    // A copy on the C: drive with no configuration file: the built-in one is used. Beside the
    // temporary folder, not in it: the launcher refuses to run from there.
    const fs::path directory =
        normalizedAbsolutePath(fs::temp_directory_path()).parent_path() / L"gatehouse-window-benchmark";
    fs::create_directories(directory);
    fs::copy_file(argv[1], directory / L"Gatehouse.exe", fs::copy_options::overwrite_existing);
    for (int round = 1; round <= 3; ++round)
        std::printf("process start to first visible painted window, run %d: %.0f ms\n", round,
                    firstFrame(directory / L"Gatehouse.exe"));
    return 0;
}
