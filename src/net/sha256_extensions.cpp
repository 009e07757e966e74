#include "net/sha256_extensions.h"

#include "foundation/error.h"

#include <cpuid.h>
#include <immintrin.h>

#include <algorithm>
#include <cstring>

namespace launcher {
namespace {

alignas(16) constexpr std::uint32_t roundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

// Runs the compression function over `blocks` 64-byte blocks. The instructions keep the working
// variables as two vectors, ABEF and CDGH (names list lanes from the highest); each sha256rnds2 does two
// rounds and turns the old ABEF into the new CDGH, so the two vectors trade places every two rounds.
__attribute__((target("sha,sse4.1"))) void compressBlocks(std::uint32_t* state, const unsigned char* data,
                                                          std::size_t blocks) {
    // Message words are big-endian: reverse the bytes within each 32-bit lane.
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    const __m128i cdab = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0xB1);
    const __m128i efgh =
        _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4)), 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

    for (; blocks > 0; --blocks, data += 64) {
        const __m128i savedAbef = abef, savedCdgh = cdgh;
        // The last four schedule vectors, oldest first: words t-16..t-13, ..., t-4..t-1.
        __m128i w0 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data)), byteSwap);
        __m128i w1 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16)), byteSwap);
        __m128i w2 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 32)), byteSwap);
        __m128i w3 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 48)), byteSwap);
        for (int group = 0; group < 16; ++group) {
            __m128i words = w0; // those of rounds 4*group .. 4*group+3
            if (group >= 4) {
                // W[t] = σ1(W[t-2]) + W[t-7] + σ0(W[t-15]) + W[t-16]: msg1 adds the σ0 terms, the
                // realignment supplies W[t-7], and msg2 adds σ1, including over the new words.
                const __m128i sum = _mm_add_epi32(_mm_sha256msg1_epu32(w0, w1), _mm_alignr_epi8(w3, w2, 4));
                words = _mm_sha256msg2_epu32(sum, w3);
            }
            w0 = w1;
            w1 = w2;
            w2 = w3;
            w3 = words;
            __m128i schedule = _mm_add_epi32(
                words, _mm_load_si128(reinterpret_cast<const __m128i*>(roundConstants + 4 * group)));
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, schedule);
            schedule = _mm_shuffle_epi32(schedule, 0x0E); // the upper two words to the bottom
            abef = _mm_sha256rnds2_epu32(abef, cdgh, schedule);
        }
        abef = _mm_add_epi32(abef, savedAbef);
        cdgh = _mm_add_epi32(cdgh, savedCdgh);
    }

    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}

} // namespace

bool processorHasSha256Extensions() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
    const bool ssse3 = ecx & bit_SSSE3, sse41 = ecx & bit_SSE4_1;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
    return ssse3 && sse41 && (ebx & (1u << 29)); // EBX bit 29: SHA
}

void Sha256Extensions::update(const void* bytes, std::size_t count) {
    if (finished_) throw Error("文件校验失败。");
    if (count == 0) return;
    auto* next = static_cast<const unsigned char*>(bytes);
    length_ += count;
    if (pendingCount_ > 0) {
        const std::size_t taken = std::min(count, pending_.size() - pendingCount_);
        std::memcpy(pending_.data() + pendingCount_, next, taken);
        pendingCount_ += taken;
        next += taken;
        count -= taken;
        if (pendingCount_ < pending_.size()) return;
        compressBlocks(state_.data(), pending_.data(), 1);
        pendingCount_ = 0;
    }
    if (count >= 64) compressBlocks(state_.data(), next, count / 64);
    next += count / 64 * 64;
    pendingCount_ = count % 64;
    if (pendingCount_ > 0) std::memcpy(pending_.data(), next, pendingCount_);
}

std::array<unsigned char, 32> Sha256Extensions::finish() {
    if (finished_) throw Error("文件校验失败。");
    // A one bit, zeros up to 56 bytes into a block, then the length in bits, big-endian.
    const std::uint64_t bits = length_ * 8;
    std::array<unsigned char, 128> tail{};
    std::memcpy(tail.data(), pending_.data(), pendingCount_);
    tail[pendingCount_] = 0x80;
    const std::size_t tailBytes = pendingCount_ < 56 ? 64 : 128;
    for (int i = 0; i < 8; ++i)
        tail[tailBytes - 1 - i] = static_cast<unsigned char>(bits >> (8 * i));
    compressBlocks(state_.data(), tail.data(), tailBytes / 64);
    finished_ = true;

    std::array<unsigned char, 32> digest{};
    for (std::size_t i = 0; i < digest.size(); ++i)
        digest[i] = static_cast<unsigned char>(state_[i / 4] >> (24 - 8 * (i % 4)));
    return digest;
}

} // namespace launcher
