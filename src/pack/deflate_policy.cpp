#include "pack/deflate_policy.h"

namespace launcher {

std::array<std::uint64_t, 3> deflateSampleOffsets(std::uint64_t size) {
    return {0, size / 2 - deflateSampleBytes / 2, size - deflateSampleBytes};
}

bool samplesShrink(std::uint64_t sampleBytes, std::uint64_t deflatedSampleBytes) {
    return deflatedSampleBytes < sampleBytes - sampleBytes / 64;
}

bool deflatePays(std::uint64_t size, std::uint64_t deflatedSize) {
    return deflatedSize < size;
}

bool deflatedOutputWorthKeeping(std::uint64_t readBytes, std::uint64_t deflatedBytes) {
    constexpr std::uint64_t slackBytes = 1 << 20;
    return deflatedBytes <= readBytes + slackBytes;
}

} // namespace launcher
