// Extraction speed and memory of extractClientPackage against the floor of this platform: a
// minimal loop of our own (zlib inflate and CRC-32, CreateFileW and WriteFile, no checks beyond
// CRC and size) on the same package and disk. Also reports the peak working set after a small
// and after a large package, to show that memory does not grow with the package.
//
//   extraction_benchmark SMALL.zip LARGE.zip [ROUNDS]
#include "foundation/unique_handle.h"
#include "install/package_extraction.h"

#include <windows.h>
#include <psapi.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace launcher;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::uint32_t read32(const unsigned char* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t(p[3]) << 24;
}
std::uint16_t read16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

void readAt(HANDLE file, std::uint64_t offset, void* buffer, DWORD count) {
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(offset);
    position.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD read = 0;
    if (!::ReadFile(file, buffer, count, &read, &position) || read != count) throw std::runtime_error("read");
}

// The floor: what any extraction has to do, and nothing more.
void minimalExtract(const fs::path& package, const fs::path& target) {
    UniqueFile zip{
        ::CreateFileW(package.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)};
    LARGE_INTEGER size{};
    ::GetFileSizeEx(zip.get(), &size);
    unsigned char end[22];
    readAt(zip.get(), size.QuadPart - 22, end, 22);
    const std::uint32_t count = read16(end + 10), directorySize = read32(end + 12),
                        directoryOffset = read32(end + 16);
    std::vector<unsigned char> directory(directorySize);
    readAt(zip.get(), directoryOffset, directory.data(), directorySize);

    constexpr DWORD bufferSize = 256 * 1024;
    const auto input = std::make_unique<unsigned char[]>(bufferSize);
    const auto output = std::make_unique<unsigned char[]>(bufferSize);
    std::wstring lastParent;
    const unsigned char* entry = directory.data();
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint16_t method = read16(entry + 10), nameSize = read16(entry + 28);
        const std::uint32_t crc = read32(entry + 16), compressed = read32(entry + 20),
                            uncompressed = read32(entry + 24);
        const std::uint32_t local = read32(entry + 42);
        std::string name(reinterpret_cast<const char*>(entry + 46), nameSize);
        entry += 46 + nameSize + read16(entry + 30) + read16(entry + 32);
        std::wstring wideName(name.size(), L'\0');
        wideName.resize(::MultiByteToWideChar(CP_UTF8, 0, name.data(), static_cast<int>(name.size()),
                                              wideName.data(), static_cast<int>(wideName.size())));
        const fs::path path = (target / wideName).make_preferred();
        if (method != Z_DEFLATED && name.back() != '/')
            throw std::runtime_error("the benchmark package is deflated");
        if (name.back() == '/') {
            fs::create_directories(path);
            continue;
        }
        if (path.parent_path().native() != lastParent) {
            fs::create_directories(path.parent_path());
            lastParent = path.parent_path().native();
        }
        UniqueFile out{::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr)};
        unsigned char header[30];
        readAt(zip.get(), local, header, 30);
        std::uint64_t offset = local + 30 + read16(header + 26) + read16(header + 28);
        z_stream stream{};
        inflateInit2(&stream, -MAX_WBITS);
        std::uint64_t remaining = compressed, written = 0;
        uLong sum = crc32(0, nullptr, 0);
        for (int result = Z_OK; result != Z_STREAM_END;) {
            if (stream.avail_in == 0 && remaining > 0) {
                const DWORD chunk = static_cast<DWORD>(std::min<std::uint64_t>(remaining, bufferSize));
                readAt(zip.get(), offset, input.get(), chunk);
                offset += chunk;
                remaining -= chunk;
                stream.next_in = input.get();
                stream.avail_in = chunk;
            }
            stream.next_out = output.get();
            stream.avail_out = bufferSize;
            result = inflate(&stream, Z_NO_FLUSH);
            if (result != Z_OK && result != Z_STREAM_END) throw std::runtime_error("inflate");
            const DWORD produced = bufferSize - stream.avail_out;
            sum = crc32(sum, output.get(), produced);
            DWORD done = 0;
            if (produced > 0 && !::WriteFile(out.get(), output.get(), produced, &done, nullptr))
                throw std::runtime_error("write");
            written += produced;
        }
        inflateEnd(&stream);
        if (sum != crc || written != uncompressed) throw std::runtime_error("crc or size");
    }
}

double seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double peakMiB() {
    PROCESS_MEMORY_COUNTERS counters{};
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters));
    return counters.PeakWorkingSetSize / 1048576.0;
}

double ours(const fs::path& package, const fs::path& target) {
    fs::create_directories(target);
    CancelToken token;
    const auto start = Clock::now();
    extractClientPackage(package, target, ~0ull, token,
                         [](const std::wstring&, std::uint64_t, std::uint64_t) {});
    return seconds(start);
}

double floorLoop(const fs::path& package, const fs::path& target) {
    fs::create_directories(target);
    const auto start = Clock::now();
    minimalExtract(package, target);
    return seconds(start);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fputs("usage: extraction_benchmark SMALL.zip LARGE.zip [ROUNDS]\n", stderr);
        return 2;
    }
    const fs::path small = argv[1], large = argv[2];
    const int rounds = argc > 3 ? _wtoi(argv[3]) : 3;
    const fs::path work = fs::temp_directory_path() / L"gatehouse-extraction-benchmark";
    fs::remove_all(work);

    const double before = peakMiB();
    ours(small, work / L"small");
    const double afterSmall = peakMiB();
    fs::remove_all(work / L"small");
    std::vector<double> oursTimes, floorTimes;
    for (int round = 0; round < rounds; ++round) {
        floorTimes.push_back(floorLoop(large, work / L"floor"));
        fs::remove_all(work / L"floor");
        oursTimes.push_back(ours(large, work / L"ours"));
        fs::remove_all(work / L"ours");
        std::printf("round %d: extractClientPackage %.2f s, minimal loop %.2f s\n", round + 1,
                    oursTimes.back(), floorTimes.back());
        std::fflush(stdout);
    }
    const double afterLarge = peakMiB();
    std::sort(oursTimes.begin(), oursTimes.end());
    std::sort(floorTimes.begin(), floorTimes.end());
    const double oursMedian = oursTimes[oursTimes.size() / 2],
                 floorMedian = floorTimes[floorTimes.size() / 2];
    std::printf("median: extractClientPackage %.2f s, minimal loop %.2f s, ratio %.3f\n", oursMedian,
                floorMedian, oursMedian / floorMedian);
    std::printf(
        "peak working set: %.1f MiB at start, %.1f MiB after the small package, %.1f MiB after the large\n",
        before, afterSmall, afterLarge);
    std::printf("ours_seconds=%.3f\n", oursMedian);
    return 0;
}
