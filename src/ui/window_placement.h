#pragma once

namespace launcher {

struct WindowOrigin {
    int x;
    int y;
};

// Where a window of `width` x `height` sits centred in the work area (left, top, right, bottom).
// A work area smaller than the window gives negative offsets, so it overhangs both edges equally.
WindowOrigin centredWindowOrigin(int left, int top, int right, int bottom, int width, int height);

} // namespace launcher
