#include "install/directory_links.h"

#include "foundation/error.h"
#include "foundation/path_normal.h"
#include "foundation/unique_handle.h"

#include <windows.h>

#include <functional>

namespace launcher {
namespace {

bool isReparsePoint(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool isDirectory(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Calls `visit` with each entry of `directory` (without "." and ".."), using the attributes the
// listing itself reports, so no link is ever opened or followed. Returns false if the directory
// cannot be listed or `visit` returns false.
bool forEachEntry(const std::filesystem::path& directory,
                  const std::function<bool(const std::filesystem::path&, DWORD attributes)>& visit) {
    WIN32_FIND_DATAW entry{};
    const std::wstring pattern = (directory / L"*").native();
    UniqueFind find{
        ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0)};
    if (!find) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        const std::wstring_view name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        if (!visit(directory / name, entry.dwFileAttributes)) return false;
    } while (::FindNextFileW(find.get(), &entry));
    return ::GetLastError() == ERROR_NO_MORE_FILES;
}

bool treeHasNoLinks(const std::filesystem::path& directory) {
    return forEachEntry(directory, [](const std::filesystem::path& path, DWORD attributes) {
        if (attributes == INVALID_FILE_ATTRIBUTES || isReparsePoint(attributes)) return false;
        return !isDirectory(attributes) || treeHasNoLinks(path);
    });
}

// Removes what lies below `directory`, children first. Stops at a link rather than touch it:
// the tree was checked, so one appearing now means someone is racing us.
bool removeContents(const std::filesystem::path& directory) {
    bool complete = true;
    const bool listed = forEachEntry(directory, [&](const std::filesystem::path& path, DWORD attributes) {
        if (attributes == INVALID_FILE_ATTRIBUTES || isReparsePoint(attributes)) return false;
        if (isDirectory(attributes)) {
            if (!removeContents(path) || !::RemoveDirectoryW(path.c_str())) complete = false;
        } else {
            if (attributes & FILE_ATTRIBUTE_READONLY)
                ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (!::DeleteFileW(path.c_str())) complete = false;
        }
        return true;
    });
    return listed && complete;
}

} // namespace

void rejectDirectoryLinks(const std::filesystem::path& path) {
    std::filesystem::path current = normalizedAbsolutePath(path);
    for (;;) {
        if (isReparsePoint(::GetFileAttributesW(current.c_str()))) throw Error("安装路径不能包含目录链接。");
        // Above \\server\share or \\?\C: the library's parent would leave the share or volume.
        if (isPathRoot(current)) return;
        std::filesystem::path parent = current.parent_path();
        if (parent.empty() || parent == current) return;
        current = std::move(parent);
    }
}

void removeTreeSafely(const std::filesystem::path& target,
                      const std::filesystem::path& expectedParent) noexcept {
    try {
        const std::filesystem::path directory = normalizedAbsolutePath(target);
        const std::filesystem::path parent = normalizedAbsolutePath(expectedParent);
        if (!samePathIgnoringCase(parentDirectory(directory), parent) ||
            samePathIgnoringCase(directory, parent))
            return;
        rejectDirectoryLinks(directory);

        const DWORD attributes = ::GetFileAttributesW(directory.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) return;
        if (!isDirectory(attributes)) {
            ::DeleteFileW(directory.c_str());
            return;
        }
        if (!treeHasNoLinks(directory)) return;
        if (removeContents(directory)) ::RemoveDirectoryW(directory.c_str());
    } catch (...) {
        // Leftovers are harmless; a failure here must never mask the error that led to cleanup.
    }
}

} // namespace launcher
