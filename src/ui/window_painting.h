#pragma once

// How the launcher window is painted: the background drawn over the skin, the owner-drawn buttons
// and the colours of the standard controls. Window thread only.
#include "ui/launcher_window.h"

namespace launcher {

inline constexpr const wchar_t* uiFontFace = L"Microsoft YaHei UI";

// The window's text font in the given pixel size.
UniqueFont makeUiFont(int size, int weight = FW_NORMAL, const wchar_t* face = uiFontFace);

// On WM_PAINT: the whole background, drawn off-screen and copied once.
void paintWindow(LauncherWindow& state, HDC target);

// On WM_DRAWITEM for the owner-drawn buttons.
// The frame drawn inside the owner-drawn button that has the keyboard focus.
inline constexpr COLORREF focusCueColour = RGB(236, 204, 134);

void drawOwnerButton(const LauncherWindow& state, const DRAWITEMSTRUCT& item);

// On WM_CTLCOLOREDIT, WM_CTLCOLORSTATIC and WM_CTLCOLORBTN: sets the colours, returns the brush.
HBRUSH controlColour(const LauncherWindow& state, UINT message, HDC dc, HWND control);

} // namespace launcher
