#pragma once

// The launcher's skin: the picture the window is painted from, and the window's shape cut from its
// opaque pixels. Window thread only.
#include "ui/launcher_window.h"
#include "ui/png_image.h"

namespace launcher {

// On WM_CREATE, before the controls: decodes the window's skin, lays it over the window's
// background into `state.skin` and cuts the window to its opaque pixels. Throws
// Error("启动器资源不完整。"), Error("无法加载界面资源。") or Error("界面图片损坏。") for a missing or
// damaged skin.
void applySkin(LauncherWindow& state);

// The skin decoded from the executable's resources. Throws like applySkin.
PngImage decodeSkin();

// The window's shape: the skin's opaque pixels (alpha above 24).
UniqueRegion makeSkinRegion(const PngImage& skin);

// The skin as the window shows it, laid over `background` once: each paint copies it. Throws
// Error("无法加载界面资源。") when the bitmap cannot be made.
UniqueBitmap makeSkinBitmap(const PngImage& skin, COLORREF background);

} // namespace launcher
