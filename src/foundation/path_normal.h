#pragma once

#include <filesystem>

namespace launcher {

// The path made absolute by the platform's full-path resolution, lexically normalised, with
// backslashes only and no trailing separator (a root such as C:\ keeps its own). Throws the
// platform's filesystem_error if the path cannot be made absolute.
std::filesystem::path normalizedAbsolutePath(const std::filesystem::path& path);

// Whether two paths name the same location, compared after locale-independent lower-casing.
bool samePathIgnoringCase(const std::filesystem::path& a, const std::filesystem::path& b);

} // namespace launcher
