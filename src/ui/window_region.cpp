#include "ui/window_region.h"

#include <cstring>

namespace launcher {

std::vector<PixelRun> opaqueRuns(const std::uint8_t* pixels, int stride, int width, int height) {
    std::vector<PixelRun> runs;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = pixels + static_cast<std::ptrdiff_t>(y) * stride;
        int start = -1;
        // x == width always ends a run, so a run that touches the right edge is closed too.
        for (int x = 0; x <= width; ++x) {
            std::uint32_t pixel = 0;
            if (x < width) std::memcpy(&pixel, row + 4 * x, sizeof(pixel));
            const bool opaque = x < width && (pixel >> 24) > transparentAlphaLimit;
            if (opaque && start < 0) start = x;
            if (!opaque && start >= 0) {
                runs.push_back({start, x, y});
                start = -1;
            }
        }
    }
    return runs;
}

} // namespace launcher
