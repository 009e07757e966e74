#include "foundation/path_normal.h"

#include "foundation/text.h"

namespace launcher {

std::filesystem::path normalizedAbsolutePath(const std::filesystem::path& path) {
    std::filesystem::path result = std::filesystem::absolute(path).lexically_normal();
    // "D:\Games\" would otherwise have an empty file name, and its parent would be itself.
    while (!result.has_filename() && result.has_relative_path())
        result = result.parent_path();
    return result;
}

bool samePathIgnoringCase(const std::filesystem::path& a, const std::filesystem::path& b) {
    return toLowerCase(a.native()) == toLowerCase(b.native());
}

} // namespace launcher
