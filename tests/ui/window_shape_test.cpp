#include "foundation/resources.h"
#include "foundation/unique_handle.h"
#include "ui/window_placement.h"
#include "ui/window_region.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>
#include <shlwapi.h>

#include <cstring>
#include <memory>

namespace launcher {
namespace {

std::vector<std::uint8_t> image(int width, int height, std::uint8_t alpha) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 4, 0x40);
    for (std::size_t i = 3; i < pixels.size(); i += 4)
        pixels[i] = alpha;
    return pixels;
}

void setAlpha(std::vector<std::uint8_t>& pixels, int width, int x, int y, std::uint8_t alpha) {
    pixels[(static_cast<std::size_t>(y) * width + x) * 4 + 3] = alpha;
}

TEST(WindowRegion, AlphaAboveTwentyFourIsInsideTheWindow) {
    std::vector<std::uint8_t> pixels = image(10, 3, 0);
    setAlpha(pixels, 10, 2, 0, 24);
    setAlpha(pixels, 10, 3, 0, 25);
    setAlpha(pixels, 10, 4, 0, 255);
    setAlpha(pixels, 10, 7, 0, 200);
    for (int x = 0; x < 10; ++x)
        setAlpha(pixels, 10, x, 2, 255);
    const auto runs = opaqueRuns(pixels.data(), 40, 10, 3);
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ((std::vector<int>{runs[0].left, runs[0].right, runs[0].y}), (std::vector<int>{3, 5, 0}));
    EXPECT_EQ((std::vector<int>{runs[1].left, runs[1].right, runs[1].y}), (std::vector<int>{7, 8, 0}));
    EXPECT_EQ((std::vector<int>{runs[2].left, runs[2].right, runs[2].y}), (std::vector<int>{0, 10, 2}))
        << "a fully opaque row is one run reaching the right edge";
}

TEST(WindowRegion, StrideMayBeWiderThanTheRow) {
    std::vector<std::uint8_t> pixels(3 * 32, 0);
    pixels[4 * 1 + 3] = 255;      // row 0, x 1
    pixels[32 + 4 * 2 + 3] = 255; // row 1, x 2
    const auto runs = opaqueRuns(pixels.data(), 32, 3, 2);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1].left, 2);
    EXPECT_EQ(runs[1].y, 1);
}

// The skin as the launcher carries it, decoded to 32-bit ARGB.
std::vector<std::uint8_t> decodedSkin() {
    const HMODULE module = ::LoadLibraryExW(GATEHOUSE_EXE, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) return {};
    HRSRC info = ::FindResourceW(module, MAKEINTRESOURCEW(skinResourceId), MAKEINTRESOURCEW(10));
    const std::string png(static_cast<const char*>(::LockResource(::LoadResource(module, info))),
                          ::SizeofResource(module, info));
    ::FreeLibrary(module);

    ULONG_PTR gdiplus = 0;
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&gdiplus, &input, nullptr);
    std::vector<std::uint8_t> pixels;
    {
        const UniqueComReference<IStream> stream{
            ::SHCreateMemStream(reinterpret_cast<const BYTE*>(png.data()), static_cast<UINT>(png.size()))};
        Gdiplus::Bitmap bitmap(stream.get());
        Gdiplus::BitmapData data{};
        Gdiplus::Rect all(0, 0, skinWidth, skinHeight);
        if (bitmap.LockBits(&all, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &data) == Gdiplus::Ok) {
            pixels.resize(static_cast<std::size_t>(skinWidth) * skinHeight * 4);
            for (int y = 0; y < skinHeight; ++y)
                std::memcpy(pixels.data() + y * skinWidth * 4,
                            static_cast<const std::uint8_t*>(data.Scan0) + y * data.Stride, skinWidth * 4);
            bitmap.UnlockBits(&data);
        }
    }
    Gdiplus::GdiplusShutdown(gdiplus);
    return pixels;
}

TEST(WindowRegion, SkinShapesTheWindowAroundEverythingPainted) {
    const std::vector<std::uint8_t> skin = decodedSkin();
    ASSERT_EQ(skin.size(), static_cast<std::size_t>(skinWidth) * skinHeight * 4);
    std::vector<std::vector<std::pair<int, int>>> rows(skinHeight);
    for (const PixelRun& run : opaqueRuns(skin.data(), skinWidth * 4, skinWidth, skinHeight))
        rows[run.y].push_back({run.left, run.right});
    const auto inside = [&](int left, int top, int right, int bottom) {
        for (int y = top; y < bottom; ++y) {
            bool covered = false;
            for (const auto& [from, to] : rows[y])
                covered = covered || (from <= left && right <= to);
            if (!covered) return false;
        }
        return true;
    };
    EXPECT_TRUE(inside(312, 139, 895, 546)) << "form panel";
    EXPECT_TRUE(inside(323, 550, 885, 591)) << "caption strip and progress bar";
    EXPECT_TRUE(inside(837, 90, 914, 121)) << "minimise and close buttons";
    EXPECT_TRUE(rows[0].empty() || rows[0].front().first > 0) << "top-left corner is transparent";
    EXPECT_TRUE(rows[skinHeight - 1].empty()) << "bottom row is transparent";
}

TEST(WindowPlacement, CentredInTheWorkAreaEvenWhenItIsTooSmall) {
    const WindowOrigin full = centredWindowOrigin(0, 0, 1920, 1040, 1105, 632);
    EXPECT_EQ(full.x, 407);
    EXPECT_EQ(full.y, 204);
    EXPECT_EQ(centredWindowOrigin(0, 0, 1000, 700, 1105, 632).x, -52);
    const WindowOrigin shifted = centredWindowOrigin(-1920, 40, 0, 1080, 1105, 632);
    EXPECT_EQ(shifted.x, -1920 + 407);
    EXPECT_EQ(shifted.y, 40 + 204);
}

} // namespace
} // namespace launcher
