// The window's costs under Wine: building the region from the skin and one full paint, and the
// time from starting Gatehouse.exe to its first painted frame against the same time of a bare
// window program (bare_window.exe), started alternately, with where the launcher's extra time goes.
//
//   window_benchmark GATEHOUSE.EXE BARE_WINDOW.EXE
#include "benchmark_report.h"
#include "foundation/launcher_data_folder.h"
#include "foundation/path_normal.h"
#include "foundation/resources.h"
#include "foundation/unique_handle.h"
#include "ui/launcher_window.h"
#include "ui/window_painting.h"
#include "ui/window_skin.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace launcher;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Search {
    DWORD processId;
    HWND window = nullptr;
};

BOOL CALLBACK findVisible(HWND window, LPARAM context) {
    auto& search = *reinterpret_cast<Search*>(context);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner != search.processId || !::IsWindowVisible(window)) return TRUE;
    search.window = window;
    return FALSE;
}

// Milliseconds from starting `executable` until its window is visible and its thread has come
// back to its message loop, which it does once the first frame is painted; -1 on failure. The
// program is then closed.
double firstFrame(const fs::path& executable, const std::wstring& arguments = {}) {
    std::wstring commandLine = L"\"" + executable.native() + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION created{};
    const auto start = Clock::now();
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          executable.parent_path().c_str(), &startup, &created))
        return -1;
    const UniqueKernelHandle process{created.hProcess};
    const UniqueKernelHandle thread{created.hThread};
    Search search{created.dwProcessId};
    while (search.window == nullptr && millisecondsSince(start) < 30000) {
        ::EnumWindows(findVisible, reinterpret_cast<LPARAM>(&search));
        if (search.window == nullptr) ::Sleep(1);
    }
    DWORD_PTR ignored = 0;
    const bool painted = search.window != nullptr &&
                         ::SendMessageTimeoutW(search.window, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &ignored);
    const double elapsed = millisecondsSince(start);
    if (search.window != nullptr) ::PostMessageW(search.window, WM_CLOSE, 0, 0);
    if (::WaitForSingleObject(process.get(), 10000) != WAIT_OBJECT_0) ::TerminateProcess(process.get(), 0);
    return painted ? elapsed : -1;
}

// "main:21.4,com:24.0,..." as each step's own duration, in order.
std::vector<std::pair<std::string, double>> stepDurations(const std::string& steps) {
    std::vector<std::pair<std::string, double>> durations;
    std::istringstream in(steps);
    std::string item;
    double previous = 0;
    while (std::getline(in, item, ',')) {
        const std::size_t colon = item.find(':');
        if (colon == std::string::npos) continue;
        const double end = std::stod(item.substr(colon + 1));
        durations.emplace_back(item.substr(0, colon), end - previous);
        previous = end;
    }
    return durations;
}

// The steps of the launcher's last start in its diagnostic log.
std::string lastLoggedSteps() {
    const std::optional<fs::path> folder = launcherDataFolder();
    if (!folder) return {};
    std::ifstream log(*folder / L"Logs" / L"launcher.log");
    std::string line, steps;
    while (std::getline(log, line))
        if (const std::size_t at = line.find(" launcher.first_frame steps="); at != std::string::npos)
            steps = line.substr(at + 28);
    return steps;
}

std::string readText(const fs::path& file) {
    std::ifstream in(file);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void measureRegionAndPaint() {
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR gdiplus = 0;
    Gdiplus::GdiplusStartup(&gdiplus, &input, nullptr);
    {
        auto start = Clock::now();
        const PngImage skin = decodeSkin();
        std::printf("skin decoded: %.2f ms\n", millisecondsSince(start));
        constexpr int regionRounds = 20;
        start = Clock::now();
        for (int i = 0; i < regionRounds; ++i)
            makeSkinRegion(skin);
        std::printf("region from the skin: %.2f ms\n", millisecondsSince(start) / regionRounds);

        LauncherConfig config{nlohmann::json::parse(loadResourceBytes(builtinConfigResourceId)),
                              L"C:\\Bench"};
        LauncherWindow state(std::move(config));
        state.skin = makeSkinBitmap(skin, windowBackground);
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
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fputs("usage: window_benchmark GATEHOUSE.EXE BARE_WINDOW.EXE\n", stderr);
        return 2;
    }
    measureRegionAndPaint();

    // Copies on the C: drive, the launcher with no configuration file: the built-in one is used.
    // Beside the temporary folder, not in it: the launcher refuses to run from there.
    const fs::path directory =
        normalizedAbsolutePath(fs::temp_directory_path()).parent_path() / L"gatehouse-window-benchmark";
    fs::create_directories(directory / L"bare");
    const fs::path launcher = directory / L"Gatehouse.exe";
    const fs::path bare = directory / L"bare" / L"bare_window.exe";
    const fs::path bareSteps = directory / L"bare" / L"steps.txt";
    fs::copy_file(argv[1], launcher, fs::copy_options::overwrite_existing);
    fs::copy_file(argv[2], bare, fs::copy_options::overwrite_existing);

    // One start of each first, not counted: both find their DLLs in the cache afterwards.
    firstFrame(launcher);
    firstFrame(bare, L"\"" + bareSteps.native() + L"\"");
    constexpr int rounds = 7;
    std::vector<double> ours, floor;
    std::map<std::string, std::vector<double>> ourSteps, floorSteps;
    std::vector<std::string> order;
    for (int round = 0; round < rounds; ++round) {
        // Alternating which goes first, so that neither always follows the other.
        for (int side = 0; side < 2; ++side) {
            if ((side == 0) == (round % 2 == 0)) {
                ours.push_back(firstFrame(launcher));
                for (const auto& [step, duration] : stepDurations(lastLoggedSteps())) {
                    if (!ourSteps.contains(step)) order.push_back(step);
                    ourSteps[step].push_back(duration);
                }
            } else {
                floor.push_back(firstFrame(bare, L"\"" + bareSteps.native() + L"\""));
                for (const auto& [step, duration] : stepDurations(readText(bareSteps)))
                    floorSteps[step].push_back(duration);
            }
        }
        std::printf("round %d: launcher %.1f ms, bare window %.1f ms\n", round + 1, ours.back(),
                    floor.back());
    }
    const double launcherFrame = median(ours), bareFrame = median(floor);
    std::printf("process start to first painted frame, median of %d: launcher %.1f ms, bare window %.1f ms, "
                "ratio %.3f\n",
                rounds, launcherFrame, bareFrame, launcherFrame / bareFrame);
    benchmark::reportFigure("window", "process start to first painted frame", launcherFrame, "ms",
                            "bare window, same manifest", bareFrame, benchmark::Target{"ratio", 1.25, {}});

    // Where the difference goes: each step's median against the bare window's step of the same
    // name (steps it does not have cost it nothing).
    const double difference = launcherFrame - bareFrame;
    std::printf("where the launcher's %.1f ms more go (medians; bare window's own step subtracted):\n",
                difference);
    double accounted = 0;
    for (const std::string& step : order) {
        const double mine = median(ourSteps[step]);
        const double theirs = floorSteps.contains(step) ? median(floorSteps[step]) : 0;
        accounted += mine - theirs;
        std::printf("  %-16s %7.1f ms  bare %6.1f ms  extra %6.1f ms  %5.1f%%\n", step.c_str(), mine, theirs,
                    mine - theirs, difference > 0 ? 100 * (mine - theirs) / difference : 0);
    }
    std::printf("  %-16s %7s     %6s     extra %6.1f ms  %5.1f%%\n", "(after the paint)", "", "",
                difference - accounted, difference > 0 ? 100 * (difference - accounted) / difference : 0);
    std::puts(
        "A step costs the bare window more where it pays there what the launcher paid earlier (the\n"
        "display's first use comes with the common controls in the launcher, with its window in the\n"
        "bare one); the common controls' time is loading comctl32 6, which the bare window never does.");
    return 0;
}
