#include "foundation/path_normal.h"

#include <cstdio>
#include <cstdlib>

namespace launcher {

// Resolving a path asks the platform; no target reaches it, but the files it links need it.
std::filesystem::path normalizedAbsolutePath(const std::filesystem::path&) {
    std::fputs("normalizedAbsolutePath is not available in the native fuzz build\n", stderr);
    std::abort();
}

} // namespace launcher
