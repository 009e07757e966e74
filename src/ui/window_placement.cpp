#include "ui/window_placement.h"

namespace launcher {

WindowOrigin centredWindowOrigin(int left, int top, int right, int bottom, int width, int height) {
    // Integer division truncates toward zero, also for the negative offsets of a small screen.
    return {left + (right - left - width) / 2, top + (bottom - top - height) / 2};
}

} // namespace launcher
