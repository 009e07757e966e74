// One client install through the launcher's own installClient, timed, with the process's peak
// working set: from the content store the client package names in its "index" member, or, with
// --full, from the package alone. scripts/benchmark serves the store and the packages with nginx
// and reads what was fetched from nginx's log.
//
//   chunks_benchmark PACKAGE.json LAUNCHER_DIR CHUNK_CACHE [--full] [--connections N] [--log FOLDER]
//   chunks_benchmark --copy FROM TO      (the reference: a folder copied file by file)
//
// PACKAGE.json is the clientPackage member of a published update manifest. The client is installed
// in LAUNCHER_DIR\GameClient, next to what is there already, as a launcher in LAUNCHER_DIR would.
#include "config/launcher_config.h"
#include "foundation/cancel_token.h"
#include "foundation/diagnostic_log.h"
#include "foundation/error.h"
#include "install/client_install.h"

#include <windows.h>
#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

namespace {

using namespace launcher;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double peakMiB() {
    PROCESS_MEMORY_COUNTERS counters{};
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters));
    return counters.PeakWorkingSetSize / 1048576.0;
}

nlohmann::json readJson(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return nlohmann::json::parse(std::string(std::istreambuf_iterator<char>(in), {}));
}

// The reference for an update's time as a Windows program meets the same disk: the folder copied
// file by file with CopyFileW, as Explorer or robocopy would.
int copyFolder(const fs::path& from, const fs::path& to) {
    const auto start = Clock::now();
    std::uint64_t files = 0;
    fs::create_directories(to);
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(from)) {
        const fs::path target = to / fs::relative(entry.path(), from);
        if (entry.is_directory()) {
            fs::create_directories(target);
        } else if (!::CopyFileW(entry.path().c_str(), target.c_str(), TRUE)) {
            std::printf("copy failed: %ls\n", entry.path().c_str());
            return 1;
        } else {
            ++files;
        }
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("CopyFileW copy: %llu files in %.2f s\nseconds=%.3f\n",
                static_cast<unsigned long long>(files), elapsed, elapsed);
    return 0;
}

int usage() {
    std::fputs("usage: chunks_benchmark PACKAGE.json LAUNCHER_DIR CHUNK_CACHE [--full] [--connections N] "
               "[--log FOLDER]\n",
               stderr);
    return 2;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 4 && std::wstring(argv[1]) == L"--copy") return copyFolder(argv[2], argv[3]);
    if (argc < 4) return usage();
    bool full = false;
    std::optional<fs::path> logFolder;
    InstallOptions options;
    options.chunkCache = fs::path(argv[3]);
    for (int i = 4; i < argc; ++i) {
        const std::wstring option = argv[i];
        if (option == L"--full")
            full = true;
        else if (option == L"--log" && i + 1 < argc)
            logFolder = fs::path(argv[++i]);
        else if (option == L"--connections" && i + 1 < argc)
            options.connections = static_cast<unsigned>(std::wcstoul(argv[++i], nullptr, 10));
        else
            return usage();
    }
    // As a launcher in LAUNCHER_DIR reads it: the built-in document, with the published member in
    // place of its package (the limits stay the built-in ones), from launcher.config.json there.
    const fs::path launcherDir = argv[2];
    nlohmann::json document = builtInConfigDocument();
    const nlohmann::json published = readJson(argv[1]);
    for (const auto& [name, value] : published.items())
        document["clientPackage"][name] = value;
    if (full) document["clientPackage"].erase("index");
    fs::create_directories(launcherDir);
    std::ofstream(launcherDir / L"launcher.config.json", std::ios::binary)
        << serializeConfigDocument(document);
    const LauncherConfig config = loadLauncherConfig(launcherDir);

    // The launcher's own log of the install, to see where its time goes.
    std::optional<DiagnosticLog> log;
    if (logFolder) log.emplace(*logFolder);
    CancelToken token;
    const auto start = Clock::now();
    try {
        installClient(config, token, {}, options);
    } catch (const std::exception& error) {
        std::printf("install failed: %s\n", error.what());
        return 1;
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%s install: %.2f s, peak working set %.1f MiB\n", full ? "package" : "store", elapsed,
                peakMiB());
    std::printf("seconds=%.3f\npeak_mib=%.1f\n", elapsed, peakMiB());
    return 0;
}
