// One extraction, timed, with the process's peak working set: either extractClientPackage
// ("ours") or the floor of this platform, a minimal loop of our own (zlib inflate and CRC-32,
// CreateFileW and WriteFile, no checks beyond CRC and size). scripts/benchmark alternates the
// two on the same package and disk and compares them.
//
//   extraction_benchmark ours|floor PACKAGE.zip TARGET_DIR
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
    if (argc != 4 || (std::wstring(argv[1]) != L"ours" && std::wstring(argv[1]) != L"floor")) {
        std::fputs("usage: extraction_benchmark ours|floor PACKAGE.zip TARGET_DIR\n", stderr);
        return 2;
    }
    const fs::path package = argv[2], target = argv[3];
    fs::remove_all(target);
    const double before = peakMiB();
    const double elapsed =
        std::wstring(argv[1]) == L"ours" ? ours(package, target) : floorLoop(package, target);
    std::printf("%ls: %.2f s, peak working set %.1f MiB (%.1f MiB before extracting)\n", argv[1], elapsed,
                peakMiB(), before);
    std::printf("seconds=%.3f\npeak_mib=%.1f\n", elapsed, peakMiB());
    return 0;
}
