#pragma once

#include <cstddef>
#include <filesystem>
#include <string_view>

namespace launcher {

// The path resolved the way Windows resolves it before opening (GetFullPathNameW): absolute,
// backslashes only, dot segments folded, a trailing dot or space dropped, shares (\\server\share)
// and \\?\ paths kept in their own form. No trailing separator except a root's own (C:\, \\?\C:\;
// a share root is \\server\share). Throws the platform's filesystem_error if the path cannot be
// resolved (empty, or holding a NUL).
std::filesystem::path normalizedAbsolutePath(const std::filesystem::path& path);

// How many leading characters of a full path form its root: "C:\", "\\server\share",
// "\\?\C:\", "\\?\UNC\server\share". Pure.
std::size_t pathRootLength(std::wstring_view path);

// Whether a path from normalizedAbsolutePath is nothing but its root. Pure.
bool isPathRoot(const std::filesystem::path& normalizedPath);

// The directory holding a path from normalizedAbsolutePath, a root in its own form (C:\, \\?\C:\,
// \\server\share); a root is its own parent. Pure.
std::filesystem::path parentDirectory(const std::filesystem::path& normalizedPath);

// The \\?\ form of a path from normalizedAbsolutePath, which file functions accept beyond MAX_PATH
// whatever the system's long-path setting: C:\x → \\?\C:\x, \\server\share\x → \\?\UNC\server\share\x.
// \\?\ and \\.\ paths are returned as they are. Pure.
std::filesystem::path extendedLengthPath(const std::filesystem::path& normalizedPath);

// Whether two paths name the same location, compared after locale-independent lower-casing.
bool samePathIgnoringCase(const std::filesystem::path& a, const std::filesystem::path& b);

// Whether `path` is `directory` itself or lies below it, on whole path components and without
// regard to case: C:\Temp2 is not below C:\Temp. Both are full paths as normalizedAbsolutePath
// gives them; a trailing separator on either is ignored. Pure.
bool isSameOrBelowDirectory(std::wstring_view path, std::wstring_view directory);

} // namespace launcher
