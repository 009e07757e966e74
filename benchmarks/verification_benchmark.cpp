// How long isInstalledClientReady takes for a client of many files, against the bare cost of
// asking the file system about each of them (one GetFileAttributesExW per file).
//
//   verification_benchmark [FILES]     default 200000
#include "benchmark_report.h"
#include "filesystem/path_rules.h"
#include "foundation/resources.h"
#include "install/installed_marker.h"
#include "support/test_support.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace {

using namespace launcher;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
    const std::size_t count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 200000;
    const fs::path launcherDir = fs::temp_directory_path() / L"gatehouse-verification-benchmark";
    const fs::path client = launcherDir / L"GameClient";
    LauncherConfig config{nlohmann::json::parse(loadResourceBytes(builtinConfigResourceId)), launcherDir};
    config.document["clientPackage"]["executablePath"] = "TalvoPC/talvo.exe";
    const std::string digest = config.document["clientPackage"]["sha256"];
    const std::string version = config.document["clientPackage"]["version"];

    nlohmann::json files = nlohmann::json::array();
    std::vector<fs::path> paths;
    const auto created = Clock::now();
    if (!fs::exists(client / installedMarkerName)) fs::remove_all(launcherDir);
    for (const char* name :
         {"TalvoPC\\talvo.exe", "TalvoPC\\UnityPlayer.dll", "TalvoPC\\talvo_Data\\level0"}) {
        files.push_back({{"length", 2}, {"path", name}});
    }
    for (std::size_t i = 0; files.size() < count; ++i) {
        files.push_back({{"length", i % 7},
                         {"path", "TalvoPC\\talvo_Data\\Resources\\" + std::to_string(i / 500) + "\\item" +
                                      std::to_string(i) + ".json"}});
    }
    const bool fresh = !fs::exists(client / installedMarkerName);
    for (const auto& file : files) {
        paths.push_back(client / testing::wide(file["path"].get<std::string>()));
        if (!fresh) continue;
        fs::create_directories(paths.back().parent_path());
        testing::writeBytes(paths.back(), std::string(file["length"].get<std::size_t>(), 'x'));
    }
    testing::writeBytes(client / installedMarkerName, serializeInstalledMarker(version, digest, files));
    std::printf("%zu files %s in %.1f s\n", files.size(), fresh ? "created" : "reused", seconds(created));

    std::vector<double> ours, bare;
    for (int round = 0; round < 3; ++round) {
        auto start = Clock::now();
        std::uint64_t total = 0;
        for (const fs::path& path : paths) {
            WIN32_FILE_ATTRIBUTE_DATA data{};
            if (::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
                total += data.nFileSizeLow;
        }
        bare.push_back(seconds(start));
        start = Clock::now();
        CancelToken token;
        const bool ready = isInstalledClientReady(config, token);
        ours.push_back(seconds(start));
        if (!ready) {
            std::puts("the installed client was not found ready");
            return 1;
        }
        std::printf("round %d: isInstalledClientReady %.2f s, bare loop %.2f s (%llu bytes)\n", round + 1,
                    ours.back(), bare.back(), static_cast<unsigned long long>(total));
        std::fflush(stdout);
    }
    std::sort(ours.begin(), ours.end());
    std::sort(bare.begin(), bare.end());
    const double o = ours[1], b = bare[1];
    std::printf("median: isInstalledClientReady %.2f s (%.1f us a file), bare loop %.2f s (%.1f us a file), "
                "ratio %.2f\n",
                o, o * 1e6 / files.size(), b, b * 1e6 / files.size(), o / b);
    benchmark::reportFigure("verification",
                            "isInstalledClientReady, " + std::to_string(files.size()) + " files: time a file",
                            o * 1e6 / files.size(), "µs", "bare GetFileAttributesExW loop",
                            b * 1e6 / files.size(), benchmark::Target{"ratio", 1.5, {}});
    return 0;
}
