// SHA-256 throughput over a file read in 1 MiB pieces, as the launcher hashes an installed
// client: Sha256Hash against the platform provider (CNG, called directly) and against reading
// alone. Each is run three times, alternating, and the medians of wall-clock and CPU time are
// printed (CPU time is the steadier on a machine shared with other work); scripts/benchmark times
// native sha256sum on the same file and compares.
//
//   digest_benchmark FILE
#include "benchmark_report.h"
#include "foundation/unique_handle.h"
#include "net/sha256_hash.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace launcher;
using Clock = std::chrono::steady_clock;

constexpr DWORD pieceBytes = 1 << 20;

// Calls `consume` with each piece of the file; returns the bytes read.
std::uint64_t readPieces(const wchar_t* path, const std::function<void(const char*, DWORD)>& consume) {
    UniqueFile file{::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr)};
    if (!file) throw std::runtime_error("cannot open the file");
    std::vector<char> piece(pieceBytes);
    std::uint64_t total = 0;
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file.get(), piece.data(), pieceBytes, &read, nullptr))
            throw std::runtime_error("read failed");
        if (read == 0) return total;
        consume(piece.data(), read);
        total += read;
    }
}

std::string lowerHex(const Sha256Digest& digest) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (const unsigned char byte : digest) {
        text.push_back(digits[byte >> 4]);
        text.push_back(digits[byte & 0x0F]);
    }
    return text;
}

std::string readOnly(const wchar_t* path) {
    readPieces(path, [](const char*, DWORD) {});
    return "";
}

std::string throughSha256Hash(const wchar_t* path) {
    Sha256Hash hash;
    readPieces(path, [&](const char* bytes, DWORD count) { hash.update(bytes, count); });
    return lowerHex(hash.finish());
}

std::string throughPlatformProvider(const wchar_t* path) {
    BCRYPT_ALG_HANDLE rawAlgorithm = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&rawAlgorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
        throw std::runtime_error("no SHA-256 provider");
    UniqueBcryptAlgorithm algorithm{rawAlgorithm};
    BCRYPT_HASH_HANDLE rawHash = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptCreateHash(algorithm.get(), &rawHash, nullptr, 0, nullptr, 0, 0)))
        throw std::runtime_error("no SHA-256 hash object");
    UniqueBcryptHash hash{rawHash};
    readPieces(path, [&](const char* bytes, DWORD count) {
        auto* data = reinterpret_cast<PUCHAR>(const_cast<char*>(bytes));
        if (!BCRYPT_SUCCESS(::BCryptHashData(hash.get(), data, count, 0)))
            throw std::runtime_error("hash failed");
    });
    Sha256Digest digest{};
    if (!BCRYPT_SUCCESS(::BCryptFinishHash(hash.get(), digest.data(), 32, 0)))
        throw std::runtime_error("finish failed");
    return lowerHex(digest);
}

// User and kernel time of this thread, in seconds.
double threadCpuSeconds() {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user))
        throw std::runtime_error("no thread times");
    const auto ticks = [](FILETIME time) {
        return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
    };
    return (ticks(kernel) + ticks(user)) / 1e7;
}

struct Contender {
    const char* name;
    std::string (*run)(const wchar_t*);
    std::vector<double> seconds;
    std::vector<double> cpu;
    std::string digest;
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: digest_benchmark FILE\n");
        return 2;
    }
    try {
        const std::uint64_t size = readPieces(argv[1], [](const char*, DWORD) {}); // also warms the cache
        std::vector<Contender> contenders{{"read only", readOnly, {}, {}, {}},
                                          {"platform provider (CNG)", throughPlatformProvider, {}, {}, {}},
                                          {"Sha256Hash", throughSha256Hash, {}, {}, {}}};
        for (int round = 0; round < 3; ++round) {
            for (std::size_t i = 0; i < contenders.size(); ++i) {
                Contender& contender = contenders[round % 2 ? contenders.size() - 1 - i : i];
                const auto start = Clock::now();
                const double cpuStart = threadCpuSeconds();
                contender.digest = contender.run(argv[1]);
                contender.cpu.push_back(threadCpuSeconds() - cpuStart);
                contender.seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
            }
        }
        for (const Contender& contender : contenders) {
            const double wall = median(contender.seconds), cpu = median(contender.cpu);
            std::printf("%s: %.3f s, %.0f MB/s; CPU %.3f s, %.0f MB/s\n", contender.name, wall,
                        size / wall / 1e6, cpu, size / cpu / 1e6);
        }
        if (contenders[1].digest != contenders[2].digest) {
            std::fprintf(stderr, "Sha256Hash and the platform provider disagree\n");
            return 1;
        }
        // No target was ever set for hashing: the figure shows where it stands.
        benchmark::reportFigure("digest", "Sha256Hash, 1 MiB pieces: wall time",
                                median(contenders[2].seconds), "s", "platform provider (CNG)",
                                median(contenders[1].seconds), {});
        std::printf("seconds=%.6f\ncpu=%.6f\ndigest=%s\n", median(contenders[2].seconds),
                    median(contenders[2].cpu), contenders[2].digest.c_str());
        return 0;
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "%s\n", failure.what());
        return 1;
    }
}
