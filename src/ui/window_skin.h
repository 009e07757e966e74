#pragma once

// The launcher's skin: the picture the window is painted from, and the window's shape cut from its
// opaque pixels. Window thread only.
#include "ui/launcher_window.h"

namespace launcher {

// On WM_CREATE, before the controls: decodes the window's skin into `state.skin` and cuts the window
// to its opaque pixels (a skin whose pixels cannot be read leaves it rectangular). Throws
// Error("启动器资源不完整。"), Error("无法加载界面资源。") or Error("界面图片损坏。") for a missing or
// damaged skin.
void applySkin(LauncherWindow& state);

// The skin decoded from the executable's resources, as 32-bit ARGB. Throws like applySkin.
std::unique_ptr<Gdiplus::Bitmap> decodeSkin();

// The window's shape: the skin's opaque pixels (alpha above 24). Empty if the skin cannot be read.
UniqueRegion makeSkinRegion(Gdiplus::Bitmap& skin);

} // namespace launcher
