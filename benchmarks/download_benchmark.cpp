// Download throughput of the transfer engine against the floor of this platform: a minimal
// WinHTTP read loop doing the same work (write the file, hash every byte). Both fetch the same
// body from a loopback server, alternating, and the ratio of their median times is printed.
//
//   download_benchmark [MiB]      default 1024
#include "benchmark_report.h"
#include "config/deployment.h"
#include "foundation/unique_handle.h"
#include "foundation/diagnostic_log.h"
#include "net/http_transfer.h"
#include "net/sha256_hash.h"
#include "support/loopback_http_server.h"
#include "support/test_support.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace launcher;
using Clock = std::chrono::steady_clock;

constexpr std::size_t chunkBytes = 1 << 20;
const std::wstring path = L"/K3ClientRes/exe/TalvoPC/bench/TalvoPC.zip";

UniqueFile createOutput(const std::filesystem::path& file) {
    UniqueFile output{::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (!output) throw std::runtime_error("cannot create the output file");
    return output;
}

void writeAll(HANDLE file, const void* bytes, DWORD count) {
    DWORD written = 0;
    if (!::WriteFile(file, bytes, count, &written, nullptr) || written != count)
        throw std::runtime_error("write failed");
}

std::string engineDownload(const std::filesystem::path& file, std::uint64_t size) {
    UniqueFile output = createOutput(file);
    Sha256Hash hash;
    CancelToken token;
    httpTransfer(
        {.url = L"http://" + std::wstring(packageHost) + path,
         .body = {},
         .usePost = false,
         .downloadMode = true,
         .maxBytes = size},
        token,
        [&](const std::uint8_t* bytes, std::uint32_t count) {
            writeAll(output.get(), bytes, count);
            hash.update(bytes, count);
        },
        [](const std::wstring&, std::uint64_t, std::uint64_t) {});
    return hash.finishHex();
}

std::string minimalDownload(const std::filesystem::path& file) {
    UniqueFile output = createOutput(file);
    Sha256Hash hash;
    UniqueWinHttp session{::WinHttpOpen(L"bench", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0)};
    UniqueWinHttp connection{
        ::WinHttpConnect(session.get(), std::wstring(packageHost).c_str(), packagePort, 0)};
    UniqueWinHttp request{
        ::WinHttpOpenRequest(connection.get(), L"GET", path.c_str(), nullptr, nullptr, nullptr, 0)};
    if (!request || !::WinHttpSendRequest(request.get(), nullptr, 0, nullptr, 0, 0, 0) ||
        !::WinHttpReceiveResponse(request.get(), nullptr))
        throw std::runtime_error("minimal request failed");
    const auto buffer = std::make_unique<std::uint8_t[]>(131072);
    for (;;) {
        DWORD available = 0, count = 0;
        if (!::WinHttpQueryDataAvailable(request.get(), &available)) throw std::runtime_error("read failed");
        if (available == 0) break;
        if (!::WinHttpReadData(request.get(), buffer.get(), std::min<DWORD>(available, 131072), &count))
            throw std::runtime_error("read failed");
        if (count == 0) break;
        writeAll(output.get(), buffer.get(), count);
        hash.update(buffer.get(), count);
    }
    return hash.finishHex();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const std::uint64_t mebibytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    const std::uint64_t size = mebibytes * chunkBytes;
    const std::string chunk = testing::patternBytes(chunkBytes);
    testing::LoopbackHttpServer server(packagePort, [&](testing::Exchange& exchange) {
        exchange.send(testing::httpHead(200, static_cast<long long>(size)));
        for (std::uint64_t i = 0; i < mebibytes; ++i)
            exchange.send(chunk);
    });
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / L"gatehouse-download-benchmark.bin";
    // The engine runs as in the launcher, with its diagnostic log on.
    const std::filesystem::path logs =
        std::filesystem::temp_directory_path() / L"gatehouse-download-benchmark-logs";
    const DiagnosticLog log(logs);

    std::vector<double> engine, minimal;
    std::string engineDigest, minimalDigest;
    for (int round = 0; round < 3; ++round) {
        auto start = Clock::now();
        engineDigest = engineDownload(file, size);
        engine.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        start = Clock::now();
        minimalDigest = minimalDownload(file);
        minimal.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        std::printf("round %d: engine %.2f s, minimal loop %.2f s\n", round + 1, engine.back(),
                    minimal.back());
        std::fflush(stdout);
    }
    std::filesystem::remove(file);
    std::error_code ignored;
    std::filesystem::remove_all(logs, ignored);
    if (engineDigest != minimalDigest) {
        std::printf("digests differ: %s vs %s\n", engineDigest.c_str(), minimalDigest.c_str());
        return 1;
    }
    const double engineMedian = median(engine), minimalMedian = median(minimal);
    std::printf("%llu MiB: engine %.1f MB/s, minimal loop %.1f MB/s, engine/minimal time ratio %.3f\n",
                static_cast<unsigned long long>(mebibytes), size / engineMedian / 1e6,
                size / minimalMedian / 1e6, engineMedian / minimalMedian);
    benchmark::reportFigure(
        "download", "transfer engine, " + std::to_string(mebibytes) + " MiB from loopback", engineMedian, "s",
        "minimal WinHTTP loop", minimalMedian, benchmark::Target{"ratio", 1.05, {}});
    return 0;
}
