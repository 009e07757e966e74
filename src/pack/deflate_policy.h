#pragma once

// Which client files the archive stores and which it deflates. Pure: the decisions depend only on
// a file's bytes, so the same folder gives the same archive on every run and any thread count.
#include <array>
#include <cstdint>

namespace launcher {

// Files up to this size are read, deflated and kept whole in memory; larger ones stream.
inline constexpr std::uint64_t inMemoryLimit = 4 << 20;
inline constexpr int deflateLevel = 6;

// A large file is judged by three samples of this size before it is deflated whole.
inline constexpr std::uint64_t deflateSampleBytes = 256 << 10;

// Where the samples of a file of `size` (> inMemoryLimit) bytes start: its start, middle and end.
std::array<std::uint64_t, 3> deflateSampleOffsets(std::uint64_t size);

// Whether a large file is deflated whole: only when deflate took at least 1/64 off its samples
// (`sampleBytes` in all, `deflatedSampleBytes` once deflated). Unity's compressed bundles, video and
// audio do not shrink, and deflating them whole would cost most of a pack's time for nothing.
bool samplesShrink(std::uint64_t sampleBytes, std::uint64_t deflatedSampleBytes);

// Whether a file of `size` bytes goes into the archive deflated, given its deflated size: only
// when that is smaller. Otherwise it is stored as it is.
bool deflatePays(std::uint64_t size, std::uint64_t deflatedSize);

// Whether deflated output of `deflatedBytes` for the first `readBytes` bytes of a file is still
// worth keeping: once it outgrows them by more than a megabyte the file will almost surely be
// stored, and the deflated bytes need not be written anywhere.
bool deflatedOutputWorthKeeping(std::uint64_t readBytes, std::uint64_t deflatedBytes);

} // namespace launcher
