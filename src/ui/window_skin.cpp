#include "ui/window_skin.h"

#include "foundation/error.h"
#include "foundation/resources.h"
#include "foundation/unique_handle.h"
#include "ui/png_image.h"
#include "ui/startup_trace.h"
#include "ui/window_region.h"

#include <cstring>

namespace launcher {
namespace {

std::unique_ptr<Gdiplus::Bitmap> decodeSkinResource(int resourceId) {
    const PngImage image = decodePng(loadResourceBytes(resourceId));
    auto skin = std::make_unique<Gdiplus::Bitmap>(image.width, image.height, PixelFormat32bppARGB);
    Gdiplus::BitmapData bits{};
    Gdiplus::Rect all(0, 0, image.width, image.height);
    if (skin->GetLastStatus() != Gdiplus::Ok ||
        skin->LockBits(&all, Gdiplus::ImageLockModeWrite, PixelFormat32bppARGB, &bits) != Gdiplus::Ok)
        throw Error("无法加载界面资源。");
    const std::size_t rowBytes = static_cast<std::size_t>(image.width) * 4;
    for (int y = 0; y < image.height; ++y)
        std::memcpy(static_cast<std::uint8_t*>(bits.Scan0) + static_cast<std::ptrdiff_t>(y) * bits.Stride,
                    image.bgra.data() + y * rowBytes, rowBytes);
    skin->UnlockBits(&bits);
    return skin;
}

} // namespace

void applySkin(LauncherWindow& state) {
    state.skin = decodeSkinResource(state.skinResourceForTesting);
    markStartup("skin");
    UniqueRegion region = makeSkinRegion(*state.skin);
    markStartup("region");
    if (region && ::SetWindowRgn(state.window, region.get(), TRUE))
        (void)region.release(); // the system owns it now
}

std::unique_ptr<Gdiplus::Bitmap> decodeSkin() {
    return decodeSkinResource(skinResourceId);
}

UniqueRegion makeSkinRegion(Gdiplus::Bitmap& skin) {
    Gdiplus::BitmapData bits{};
    Gdiplus::Rect all(0, 0, skinWidth, skinHeight);
    if (skin.LockBits(&all, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &bits) != Gdiplus::Ok)
        return {};
    const std::vector<PixelRun> runs =
        opaqueRuns(static_cast<const std::uint8_t*>(bits.Scan0), bits.Stride, skinWidth, skinHeight);
    skin.UnlockBits(&bits);
    UniqueRegion region{::CreateRectRgn(0, 0, 0, 0)};
    for (const PixelRun& run : runs) {
        const UniqueRegion piece{::CreateRectRgn(run.left, run.y, run.right, run.y + 1)};
        ::CombineRgn(region.get(), region.get(), piece.get(), RGN_OR);
    }
    return region;
}

} // namespace launcher
