// The skin's decoder against the system's own PNG codec, and what it refuses.
#include "foundation/error.h"
#include "foundation/resources.h"
#include "foundation/unique_handle.h"
#include "ui/png_image.h"

#include "window_test_platform.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <cstring>

namespace launcher {
namespace {

std::uint32_t readBig(const std::string& bytes, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at])) << 24 |
           static_cast<std::uint8_t>(bytes[at + 1]) << 16 | static_cast<std::uint8_t>(bytes[at + 2]) << 8 |
           static_cast<std::uint8_t>(bytes[at + 3]);
}

// The skin with one byte of a chunk's data changed and the chunk's CRC made right again.
std::string withChunkByte(std::string png, const char* type, std::size_t offset, char value) {
    const std::size_t at = png.find(type) - 4;
    png[at + 8 + offset] = value;
    const std::uint32_t length = readBig(png, at);
    const auto crc = ::crc32(0, reinterpret_cast<const Bytef*>(png.data() + at + 4), length + 4);
    for (int i = 0; i < 4; ++i)
        png[at + 8 + length + i] = static_cast<char>(crc >> (24 - 8 * i));
    return png;
}

TEST(PngImage, TheSkinDecodesToThePixelsOfTheSystemsCodec) {
    const testing::WindowPlatform platform;
    const std::string png = loadResourceBytes(skinResourceId);
    const PngImage ours = decodePng(png);

    UniqueGlobalMemory memory{::GlobalAlloc(GMEM_MOVEABLE, png.size())};
    std::memcpy(::GlobalLock(memory.get()), png.data(), png.size());
    ::GlobalUnlock(memory.get());
    IStream* created = nullptr;
    ASSERT_HRESULT_SUCCEEDED(::CreateStreamOnHGlobal(memory.get(), TRUE, &created));
    (void)memory.release();
    const UniqueComReference<IStream> stream{created};
    Gdiplus::Bitmap system(stream.get());
    ASSERT_EQ(system.GetLastStatus(), Gdiplus::Ok);
    ASSERT_EQ(ours.width, static_cast<int>(system.GetWidth()));
    ASSERT_EQ(ours.height, static_cast<int>(system.GetHeight()));
    Gdiplus::BitmapData bits{};
    Gdiplus::Rect all(0, 0, ours.width, ours.height);
    ASSERT_EQ(system.LockBits(&all, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &bits), Gdiplus::Ok);
    std::size_t different = 0;
    for (int y = 0; y < ours.height; ++y)
        different += std::memcmp(static_cast<const std::uint8_t*>(bits.Scan0) + y * bits.Stride,
                                 ours.bgra.data() + y * ours.width * 4, ours.width * 4) != 0;
    system.UnlockBits(&bits);
    EXPECT_EQ(different, 0u) << "rows that differ";
}

TEST(PngImage, AnythingButTheBuildsKindOfPngIsRefused) {
    const std::string skin = loadResourceBytes(skinResourceId);
    std::string flipped = skin;
    flipped[flipped.find("IDAT") + 100] ^= 1;
    const struct {
        const char* what;
        std::string png;
        std::uint64_t maxPixels = 1 << 24;
    } refused[] = {
        {"not a PNG", "GIF89a" + skin.substr(6)},
        {"cut short", skin.substr(0, skin.size() / 2)},
        {"a byte of the pixels changed", flipped},
        {"a palette image", withChunkByte(skin, "IHDR", 9, 3)},
        {"16-bit samples", withChunkByte(skin, "IHDR", 8, 16)},
        {"interlaced", withChunkByte(skin, "IHDR", 12, 1)},
        {"taller than its pixels", withChunkByte(skin, "IHDR", 7, 0x7F)},
        {"more pixels than allowed", skin, 1105 * 631},
    };
    for (const auto& sample : refused) {
        try {
            decodePng(sample.png, sample.maxPixels);
            ADD_FAILURE() << sample.what << " was decoded";
        } catch (const Error& error) {
            EXPECT_STREQ(error.what(), "界面图片损坏。") << sample.what;
        }
    }
}

} // namespace
} // namespace launcher
