#include "ui/window_skin.h"

#include "foundation/error.h"
#include "foundation/resources.h"
#include "foundation/unique_handle.h"
#include "ui/png_image.h"
#include "ui/startup_trace.h"
#include "ui/window_region.h"

namespace launcher {

void applySkin(LauncherWindow& state) {
    const PngImage skin = state.skinDecoding.valid()
                              ? state.skinDecoding.get()
                              : decodePng(loadResourceBytes(state.skinResourceForTesting));
    markStartup("skin");
    UniqueRegion region = makeSkinRegion(skin);
    if (region && ::SetWindowRgn(state.window, region.get(), TRUE))
        (void)region.release(); // the system owns it now
    markStartup("region");
    state.skin = makeSkinBitmap(skin, windowBackground);
}

PngImage decodeSkin() {
    return decodePng(loadResourceBytes(skinResourceId));
}

UniqueRegion makeSkinRegion(const PngImage& skin) {
    const std::vector<PixelRun> runs = opaqueRuns(skin.bgra.data(), skin.width * 4, skin.width, skin.height);
    // One call for the whole shape: combining a region per run costs a pass over all earlier ones.
    std::vector<std::uint8_t> data(sizeof(RGNDATAHEADER) + runs.size() * sizeof(RECT));
    auto* header = reinterpret_cast<RGNDATAHEADER*>(data.data());
    header->dwSize = sizeof(RGNDATAHEADER);
    header->iType = RDH_RECTANGLES;
    header->nCount = static_cast<DWORD>(runs.size());
    header->rcBound = {0, 0, skin.width, skin.height};
    auto* rectangles = reinterpret_cast<RECT*>(data.data() + sizeof(RGNDATAHEADER));
    for (std::size_t i = 0; i < runs.size(); ++i)
        rectangles[i] = {runs[i].left, runs[i].y, runs[i].right, runs[i].y + 1};
    return UniqueRegion{::ExtCreateRegion(nullptr, static_cast<DWORD>(data.size()),
                                          reinterpret_cast<const RGNDATA*>(data.data()))};
}

UniqueBitmap makeSkinBitmap(const PngImage& skin, COLORREF background) {
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), skin.width, -skin.height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    UniqueBitmap bitmap{::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0)};
    if (!bitmap) throw Error("无法加载界面资源。");
    const std::uint8_t under[3] = {GetBValue(background), GetGValue(background), GetRValue(background)};
    auto* out = static_cast<std::uint8_t*>(bits);
    const std::uint8_t* in = skin.bgra.data();
    for (std::size_t i = 0, pixels = skin.bgra.size() / 4; i < pixels; ++i, in += 4, out += 4) {
        const unsigned alpha = in[3];
        for (int channel = 0; channel < 3; ++channel)
            out[channel] =
                static_cast<std::uint8_t>((in[channel] * alpha + under[channel] * (255 - alpha) + 127) / 255);
        out[3] = 0;
    }
    return bitmap;
}

} // namespace launcher
