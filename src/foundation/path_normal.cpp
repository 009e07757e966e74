#include "foundation/path_normal.h"

#include "foundation/text.h"

#include <windows.h>

#include <string>
#include <system_error>

namespace launcher {
namespace {

bool isSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// End of the path segment that starts at `start`.
std::size_t segmentEnd(std::wstring_view path, std::size_t start) {
    const std::size_t end = path.find_first_of(L"\\/", start);
    return end == std::wstring_view::npos ? path.size() : end;
}

// End of "server\share" starting at `start`: a share root has no separator of its own.
std::size_t shareRootEnd(std::wstring_view path, std::size_t start) {
    const std::size_t server = segmentEnd(path, start);
    return server < path.size() ? segmentEnd(path, server + 1) : server;
}

// The path without separators after its root: "C:\Temp\" and "C:\Temp" are one directory.
std::wstring_view withoutTrailingSeparators(std::wstring_view path) {
    const std::size_t root = pathRootLength(path);
    while (path.size() > root && isSeparator(path.back()))
        path.remove_suffix(1);
    return path;
}

[[noreturn]] void throwUnresolvable(const std::filesystem::path& path, DWORD error) {
    throw std::filesystem::filesystem_error("cannot resolve the full path", path,
                                            std::error_code(static_cast<int>(error), std::system_category()));
}

} // namespace

std::filesystem::path normalizedAbsolutePath(const std::filesystem::path& path) {
    const std::wstring& given = path.native();
    // The platform call would stop at a NUL and resolve only the part before it.
    if (given.empty() || given.find(L'\0') != std::wstring::npos) throwUnresolvable(path, ERROR_INVALID_NAME);
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD needed =
            ::GetFullPathNameW(given.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (needed == 0) throwUnresolvable(path, ::GetLastError());
        if (needed < full.size()) {
            full.resize(needed);
            break;
        }
        full.resize(needed); // too small: `needed` counts the terminator as well
    }
    // "D:\Games\" would otherwise have an empty file name, and its parent would be itself.
    const std::size_t root = pathRootLength(full);
    while (full.size() > root && full.back() == L'\\')
        full.pop_back();
    return std::filesystem::path(std::move(full));
}

std::size_t pathRootLength(std::wstring_view path) {
    const bool twoSeparators = path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1]);
    if (twoSeparators && path.size() >= 4 && (path[2] == L'?' || path[2] == L'.') && isSeparator(path[3])) {
        if (path.size() >= 8 && (path[4] | 0x20) == L'u' && (path[5] | 0x20) == L'n' &&
            (path[6] | 0x20) == L'c' && isSeparator(path[7]))
            return shareRootEnd(path, 8);
        // A device such as \\?\C:\, with its separator, as C:\ keeps its own.
        const std::size_t end = segmentEnd(path, 4);
        return end < path.size() ? end + 1 : end;
    }
    if (twoSeparators) return shareRootEnd(path, 2);
    if (path.size() >= 2 && path[1] == L':') return path.size() >= 3 && isSeparator(path[2]) ? 3 : 2;
    return !path.empty() && isSeparator(path[0]) ? 1 : 0;
}

bool isPathRoot(const std::filesystem::path& normalizedPath) {
    return normalizedPath.native().size() <= pathRootLength(normalizedPath.native());
}

std::filesystem::path parentDirectory(const std::filesystem::path& normalizedPath) {
    const std::wstring& path = normalizedPath.native();
    const std::size_t root = pathRootLength(path);
    if (path.size() <= root) return normalizedPath;
    const std::size_t separator = path.rfind(L'\\');
    return std::filesystem::path(
        path.substr(0, separator == std::wstring::npos || separator < root ? root : separator));
}

std::filesystem::path extendedLengthPath(const std::filesystem::path& normalizedPath) {
    const std::wstring& path = normalizedPath.native();
    if (path.starts_with(L"\\\\?\\") || path.starts_with(L"\\\\.\\")) return normalizedPath;
    if (path.starts_with(L"\\\\")) return std::filesystem::path(L"\\\\?\\UNC\\" + path.substr(2));
    return std::filesystem::path(L"\\\\?\\" + path);
}

bool samePathIgnoringCase(const std::filesystem::path& a, const std::filesystem::path& b) {
    return toLowerCase(a.native()) == toLowerCase(b.native());
}

bool isSameOrBelowDirectory(std::wstring_view path, std::wstring_view directory) {
    const std::wstring lowerPath = toLowerCase(withoutTrailingSeparators(path));
    const std::wstring lowerDirectory = toLowerCase(withoutTrailingSeparators(directory));
    if (lowerDirectory.empty() || !lowerPath.starts_with(lowerDirectory)) return false;
    // The match must end on a component boundary; a root such as C:\ ends with its own separator.
    return lowerPath.size() == lowerDirectory.size() || isSeparator(lowerDirectory.back()) ||
           isSeparator(lowerPath[lowerDirectory.size()]);
}

} // namespace launcher
