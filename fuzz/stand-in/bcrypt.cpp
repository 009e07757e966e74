#include <bcrypt.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string_view>

// SHA-256 as FIPS 180-4 defines it, behind the calls the product's Sha256Hash makes. A hash handle
// is the state itself; the algorithm handle stands for SHA-256 alone.

namespace {

constexpr std::array<std::uint32_t, 64> roundConstants = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

struct Sha256State {
    std::array<std::uint32_t, 8> h = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                      0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::array<UCHAR, 64> block{};
    std::size_t filled = 0;
    std::uint64_t length = 0;
};

constexpr std::uint32_t rotate(std::uint32_t value, int bits) {
    return value >> bits | value << (32 - bits);
}

void compress(Sha256State& state) {
    std::array<std::uint32_t, 64> w{};
    for (int i = 0; i < 16; ++i)
        w[i] = std::uint32_t{state.block[4 * i]} << 24 | std::uint32_t{state.block[4 * i + 1]} << 16 |
               std::uint32_t{state.block[4 * i + 2]} << 8 | state.block[4 * i + 3];
    for (int i = 16; i < 64; ++i) {
        const std::uint32_t s0 = rotate(w[i - 15], 7) ^ rotate(w[i - 15], 18) ^ w[i - 15] >> 3;
        const std::uint32_t s1 = rotate(w[i - 2], 17) ^ rotate(w[i - 2], 19) ^ w[i - 2] >> 10;
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::array<std::uint32_t, 8> v = state.h;
    for (int i = 0; i < 64; ++i) {
        const std::uint32_t s1 = rotate(v[4], 6) ^ rotate(v[4], 11) ^ rotate(v[4], 25);
        const std::uint32_t choice = (v[4] & v[5]) ^ (~v[4] & v[6]);
        const std::uint32_t t1 = v[7] + s1 + choice + roundConstants[i] + w[i];
        const std::uint32_t s0 = rotate(v[0], 2) ^ rotate(v[0], 13) ^ rotate(v[0], 22);
        const std::uint32_t majority = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
        v = {t1 + s0 + majority, v[0], v[1], v[2], v[3] + t1, v[4], v[5], v[6]};
    }
    for (int i = 0; i < 8; ++i)
        state.h[i] += v[i];
    state.filled = 0;
}

void append(Sha256State& state, const UCHAR* bytes, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        state.block[state.filled++] = bytes[i];
        if (state.filled == state.block.size()) compress(state);
    }
}

[[noreturn]] void unavailable(const char* what) {
    std::fprintf(stderr, "%s is not available in the native fuzz build\n", what);
    std::abort();
}

int sha256Algorithm; // its address is the algorithm handle

} // namespace

NTSTATUS BCryptOpenAlgorithmProvider(BCRYPT_ALG_HANDLE* algorithm, const wchar_t* name,
                                     const wchar_t* implementation, ULONG flags) {
    if (std::wstring_view(name) != BCRYPT_SHA256_ALGORITHM || implementation != nullptr || flags != 0)
        unavailable("BCryptOpenAlgorithmProvider other than SHA-256");
    *algorithm = &sha256Algorithm;
    return 0;
}

NTSTATUS BCryptCloseAlgorithmProvider(BCRYPT_ALG_HANDLE algorithm, ULONG) {
    if (algorithm != &sha256Algorithm) std::abort();
    return 0;
}

NTSTATUS BCryptCreateHash(BCRYPT_ALG_HANDLE algorithm, BCRYPT_HASH_HANDLE* hash, UCHAR* object, ULONG,
                          UCHAR* secret, ULONG, ULONG) {
    if (algorithm != &sha256Algorithm || object != nullptr || secret != nullptr)
        unavailable("BCryptCreateHash with its own object or a secret");
    *hash = new Sha256State;
    return 0;
}

NTSTATUS BCryptHashData(BCRYPT_HASH_HANDLE hash, UCHAR* bytes, ULONG size, ULONG) {
    Sha256State& state = *static_cast<Sha256State*>(hash);
    append(state, bytes, size);
    state.length += size;
    return 0;
}

NTSTATUS BCryptFinishHash(BCRYPT_HASH_HANDLE hash, UCHAR* digest, ULONG size, ULONG) {
    Sha256State& state = *static_cast<Sha256State*>(hash);
    if (size != 32) std::abort();
    const std::uint64_t bits = state.length * 8;
    const UCHAR end = 0x80;
    append(state, &end, 1);
    const UCHAR zero = 0;
    while (state.filled != 56)
        append(state, &zero, 1);
    for (int shift = 56; shift >= 0; shift -= 8) {
        const UCHAR byte = static_cast<UCHAR>(bits >> shift);
        append(state, &byte, 1);
    }
    for (int i = 0; i < 32; ++i)
        digest[i] = static_cast<UCHAR>(state.h[i / 4] >> (24 - 8 * (i % 4)));
    return 0;
}

NTSTATUS BCryptDestroyHash(BCRYPT_HASH_HANDLE hash) {
    delete static_cast<Sha256State*>(hash);
    return 0;
}
