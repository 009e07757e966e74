#pragma once

// Decoding the window's skin: a PNG of 8-bit RGBA or RGB samples, not interlaced, as the build
// makes it. Done with zlib rather than through GDI+'s codecs, which under Wine cost more than the
// rest of start-up before the first frame together. Pure.
#include <cstdint>
#include <string_view>
#include <vector>

namespace launcher {

struct PngImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bgra; // rows top down, 4 bytes a pixel, alpha not premultiplied
};

// Throws Error("界面图片损坏。") for anything else: another kind of PNG, a damaged chunk or stream,
// more than `maxPixels` pixels.
PngImage decodePng(std::string_view png, std::uint64_t maxPixels = 1 << 24);

} // namespace launcher
