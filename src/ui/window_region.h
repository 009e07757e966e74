#pragma once

#include <cstdint>
#include <vector>

namespace launcher {

inline constexpr int skinWidth = 1105;
inline constexpr int skinHeight = 632;
inline constexpr std::uint8_t transparentAlphaLimit = 24; // alpha at most this is outside the window

struct PixelRun {
    int left;  // first opaque x
    int right; // one past the last opaque x
    int y;
};

// The horizontal runs of opaque pixels of a 32-bit ARGB image (alpha in the top byte), row by
// row, left to right: the pieces the window's region is made of. `stride` is in bytes.
std::vector<PixelRun> opaqueRuns(const std::uint8_t* pixels, int stride, int width, int height);

} // namespace launcher
