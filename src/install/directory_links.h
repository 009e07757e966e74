#pragma once

#include <filesystem>

namespace launcher {

// Throws Error("安装路径不能包含目录链接。") if `path` or any existing ancestor is a reparse point
// (junction, symbolic link, mount point). Parts that do not exist yet are passed over.
void rejectDirectoryLinks(const std::filesystem::path& path);

// Deletes `target` and everything below it, but only if it sits directly in `expectedParent`
// and neither it, an ancestor nor anything below it is a reparse point. Never follows a link and
// never reports failure: whatever cannot be removed stays.
void removeTreeSafely(const std::filesystem::path& target,
                      const std::filesystem::path& expectedParent) noexcept;

} // namespace launcher
