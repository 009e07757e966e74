#pragma once

// What the launcher window looks like: the skin and its shape, the login form's controls, the
// painted background and owner-drawn buttons, and the control colours. Window thread only.
#include "ui/launcher_window.h"

namespace launcher {

// On WM_CREATE: decodes the skin, shapes the window, creates the controls and fills them from the
// remembered credentials. Throws Error("启动器资源不完整。"), Error("无法加载界面资源。") or
// Error("界面图片损坏。") for a missing or damaged skin.
void createControls(LauncherWindow& state);

// The skin decoded from the executable's resources, as 32-bit ARGB. Throws like createControls.
std::unique_ptr<Gdiplus::Bitmap> decodeSkin();

// The window's shape: the skin's opaque pixels (alpha above 24). Empty if the skin cannot be read.
UniqueRegion makeSkinRegion(Gdiplus::Bitmap& skin);

// On WM_PAINT: the whole background, drawn off-screen and copied once.
void paintWindow(LauncherWindow& state, HDC target);

// On WM_DRAWITEM for the owner-drawn buttons.
void drawOwnerButton(const LauncherWindow& state, const DRAWITEMSTRUCT& item);

// On WM_CTLCOLOREDIT, WM_CTLCOLORSTATIC and WM_CTLCOLORBTN: sets the colours, returns the brush.
HBRUSH controlColour(const LauncherWindow& state, UINT message, HDC dc, HWND control);

// Shows or hides the password in clear text, keeping its selection.
void setPasswordVisible(LauncherWindow& state, bool visible, bool giveFocus);

} // namespace launcher
