#include "ui/png_image.h"

#include "foundation/error.h"
#include "zip/inflate_stream.h"

#include <zlib.h>

#include <cstdlib>
#include <string>

namespace launcher {
namespace {

constexpr const char* damaged = "界面图片损坏。";

std::uint32_t bigEndian(std::string_view bytes, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at])) << 24 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at + 1])) << 16 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at + 2])) << 8 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at + 3]));
}

std::uint8_t paeth(int left, int up, int upLeft) {
    const int toLeft = std::abs(up - upLeft), toUp = std::abs(left - upLeft),
              toUpLeft = std::abs(left + up - 2 * upLeft);
    if (toLeft <= toUp && toLeft <= toUpLeft) return static_cast<std::uint8_t>(left);
    return static_cast<std::uint8_t>(toUp <= toUpLeft ? up : upLeft);
}

// Undoes one row's filter in place; `up` is the row above, already undone, or zeros. A loop per
// filter, the first pixel apart, keeps the branches out of the per-byte work.
void unfilterRow(std::uint8_t filter, std::uint8_t* row, const std::uint8_t* up, std::size_t bytes,
                 std::size_t pixelBytes) {
    switch (filter) {
    case 0:
        return;
    case 1:
        for (std::size_t x = pixelBytes; x < bytes; ++x)
            row[x] = static_cast<std::uint8_t>(row[x] + row[x - pixelBytes]);
        return;
    case 2:
        for (std::size_t x = 0; x < bytes; ++x)
            row[x] = static_cast<std::uint8_t>(row[x] + up[x]);
        return;
    case 3:
        for (std::size_t x = 0; x < pixelBytes; ++x)
            row[x] = static_cast<std::uint8_t>(row[x] + up[x] / 2);
        for (std::size_t x = pixelBytes; x < bytes; ++x)
            row[x] = static_cast<std::uint8_t>(row[x] + (row[x - pixelBytes] + up[x]) / 2);
        return;
    case 4:
        for (std::size_t x = 0; x < pixelBytes; ++x)
            row[x] = static_cast<std::uint8_t>(row[x] + up[x]);
        for (std::size_t x = pixelBytes; x < bytes; ++x)
            row[x] =
                static_cast<std::uint8_t>(row[x] + paeth(row[x - pixelBytes], up[x], up[x - pixelBytes]));
        return;
    default:
        throw Error(damaged);
    }
}

} // namespace

PngImage decodePng(std::string_view png, std::uint64_t maxPixels) {
    constexpr std::string_view signature("\x89PNG\r\n\x1a\n", 8);
    if (png.substr(0, 8) != signature) throw Error(damaged);
    PngImage image;
    std::size_t pixelBytes = 0;
    std::string compressed;
    bool ended = false;
    for (std::size_t at = 8; !ended;) {
        if (png.size() - at < 12) throw Error(damaged);
        const std::uint32_t length = bigEndian(png, at);
        if (length > png.size() - at - 12) throw Error(damaged);
        const std::string_view typeAndData = png.substr(at + 4, 4 + length);
        const auto crc = static_cast<std::uint32_t>(::crc32(
            0, reinterpret_cast<const Bytef*>(typeAndData.data()), static_cast<uInt>(typeAndData.size())));
        if (crc != bigEndian(png, at + 8 + length)) throw Error(damaged);
        const std::string_view type = typeAndData.substr(0, 4), data = typeAndData.substr(4);
        if (type == "IHDR") {
            if (length != 13 || image.width != 0) throw Error(damaged);
            const std::uint32_t width = bigEndian(data, 0), height = bigEndian(data, 4);
            const auto depth = data[8], colour = data[9];
            // 8-bit samples, RGB or RGBA, deflate, the standard filters, no interlacing.
            if (width == 0 || height == 0 || width > (1u << 16) || height > (1u << 16) ||
                std::uint64_t{width} * height > maxPixels || depth != 8 || (colour != 2 && colour != 6) ||
                data[10] != 0 || data[11] != 0 || data[12] != 0)
                throw Error(damaged);
            image.width = static_cast<int>(width);
            image.height = static_cast<int>(height);
            pixelBytes = colour == 6 ? 4 : 3;
        } else if (type == "IDAT") {
            if (image.width == 0) throw Error(damaged);
            compressed.append(data);
        } else if (type == "IEND") {
            ended = true;
        } else if (type == "PLTE" || (type[0] & 0x20) == 0) {
            throw Error(damaged); // a critical chunk this decoder does not know
        }
        at += 12 + length;
    }
    if (image.width == 0) throw Error(damaged);
    const auto width = static_cast<std::size_t>(image.width), height = static_cast<std::size_t>(image.height);
    const std::size_t rowBytes = width * pixelBytes;
    std::string rows = inflateAll(compressed, DeflateFraming::zlib, (rowBytes + 1) * height, damaged);
    if (rows.size() != (rowBytes + 1) * height) throw Error(damaged);
    auto* data = reinterpret_cast<std::uint8_t*>(rows.data());
    const std::vector<std::uint8_t> zeros(rowBytes);
    for (std::size_t y = 0; y < height; ++y) {
        std::uint8_t* row = data + y * (rowBytes + 1);
        unfilterRow(row[0], row + 1, y == 0 ? zeros.data() : row - rowBytes, rowBytes, pixelBytes);
    }
    image.bgra.resize(width * height * 4);
    for (std::size_t y = 0; y < height; ++y) {
        const auto* samples = reinterpret_cast<const std::uint8_t*>(rows.data()) + y * (rowBytes + 1) + 1;
        std::uint8_t* out = image.bgra.data() + y * width * 4;
        for (std::size_t x = 0; x < width; ++x, samples += pixelBytes, out += 4) {
            out[0] = samples[2];
            out[1] = samples[1];
            out[2] = samples[0];
            out[3] = pixelBytes == 4 ? samples[3] : 0xFF;
        }
    }
    return image;
}

} // namespace launcher
