#include "config/config_validation.h"
#include "foundation/path_normal.h"

#include <cstdio>
#include <cstdlib>

namespace launcher {
namespace {

[[noreturn]] void unreached(const char* function) {
    std::fprintf(stderr, "%s is not available in the native fuzz build\n", function);
    std::abort();
}

} // namespace

// Functions the targets' product files link against but never call on the paths fuzzed: resolving
// a path asks the platform, and so does everything that resolves the install folder.
std::filesystem::path normalizedAbsolutePath(const std::filesystem::path&) {
    unreached("normalizedAbsolutePath");
}

void validateLauncherConfig(const LauncherConfig&) {
    unreached("validateLauncherConfig");
}

} // namespace launcher
