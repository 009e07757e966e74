#include "ui/window_skin.h"

#include "foundation/error.h"
#include "foundation/resources.h"
#include "foundation/unique_handle.h"
#include "ui/startup_trace.h"
#include "ui/window_region.h"

#include <cstring>

namespace launcher {
namespace {

std::unique_ptr<Gdiplus::Bitmap> decodeSkinResource(int resourceId) {
    const std::string png = loadResourceBytes(resourceId);
    UniqueGlobalMemory memory{::GlobalAlloc(GMEM_MOVEABLE, png.size())};
    if (!memory) throw Error("无法加载界面资源。");
    if (void* bytes = ::GlobalLock(memory.get())) {
        std::memcpy(bytes, png.data(), png.size());
        ::GlobalUnlock(memory.get());
    }
    IStream* created = nullptr;
    if (FAILED(::CreateStreamOnHGlobal(memory.get(), TRUE, &created))) throw Error("无法加载界面资源。");
    const UniqueComReference<IStream> stream{created};
    static_cast<void>(memory.release()); // the stream frees the block once it is released
    std::unique_ptr<Gdiplus::Bitmap> skin;
    {
        Gdiplus::Bitmap decoded(stream.get());
        if (decoded.GetLastStatus() == Gdiplus::Ok)
            skin.reset(decoded.Clone(0, 0, static_cast<INT>(decoded.GetWidth()),
                                     static_cast<INT>(decoded.GetHeight()), PixelFormat32bppARGB));
    }
    if (!skin || skin->GetLastStatus() != Gdiplus::Ok) throw Error("界面图片损坏。");
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
