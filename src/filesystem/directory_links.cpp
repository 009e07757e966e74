#include "filesystem/directory_links.h"

#include "foundation/diagnostic_log.h"
#include "foundation/error.h"
#include "foundation/path_normal.h"
#include "foundation/unique_handle.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

namespace launcher {
namespace {

bool isDirectory(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Calls `visit` with each entry of `directory` (without "." and ".."), using the attributes and
// reparse tag the listing itself reports, so no link is ever opened or followed. Returns false if
// the directory cannot be listed or `visit` returns false.
bool forEachEntry(
    const std::filesystem::path& directory,
    const std::function<bool(const std::filesystem::path&, DWORD attributes, bool link)>& visit) {
    WIN32_FIND_DATAW entry{};
    const std::wstring pattern = (directory / L"*").native();
    UniqueFind find{
        ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0)};
    if (!find) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        const std::wstring_view name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        const bool link = isLinkEntry(entry.dwFileAttributes, entry.dwReserved0);
        if (!visit(directory / name, entry.dwFileAttributes, link)) return false;
    } while (::FindNextFileW(find.get(), &entry));
    return ::GetLastError() == ERROR_NO_MORE_FILES;
}

// Asked between entries: a tree of gigabytes takes long enough to remove that the player may
// cancel or close meanwhile.
using StopRequested = std::function<bool()>;

bool stopped(const StopRequested& stopRequested) {
    return stopRequested && stopRequested();
}

bool treeHasNoLinks(const std::filesystem::path& directory, const StopRequested& stopRequested) {
    return forEachEntry(directory, [&](const std::filesystem::path& path, DWORD attributes, bool link) {
        if (attributes == INVALID_FILE_ATTRIBUTES || link || stopped(stopRequested)) return false;
        return !isDirectory(attributes) || treeHasNoLinks(path, stopRequested);
    });
}

// Deletes `files` (plain files of one folder), several at once when there are many: each deletion
// waits on the file system more than on the processor, and a client holds tens of thousands.
bool deleteFiles(const std::vector<std::filesystem::path>& files, const StopRequested& stopRequested) {
    std::atomic<std::size_t> next{0};
    std::atomic<bool> complete{true};
    const auto work = [&] {
        for (std::size_t i = next++; i < files.size(); i = next++) {
            if (stopped(stopRequested)) {
                complete = false;
                return;
            }
            if (!::DeleteFileW(files[i].c_str())) complete = false;
        }
    };
    constexpr std::size_t filesPerThread = 64;
    const std::size_t threads =
        std::min<std::size_t>(4, (files.size() + filesPerThread - 1) / filesPerThread);
    {
        std::vector<std::jthread> helpers;
        for (std::size_t i = 1; i < threads; ++i)
            helpers.emplace_back(work);
        work();
    }
    return complete;
}

// Removes what lies below `directory`, children first. Stops at a link rather than touch it:
// the tree was checked, so one appearing now means someone is racing us.
bool removeContents(const std::filesystem::path& directory, const StopRequested& stopRequested) {
    bool complete = true;
    std::vector<std::filesystem::path> files;
    const bool listed =
        forEachEntry(directory, [&](const std::filesystem::path& path, DWORD attributes, bool link) {
            if (attributes == INVALID_FILE_ATTRIBUTES || link || stopped(stopRequested)) return false;
            if (isDirectory(attributes)) {
                if (!removeContents(path, stopRequested) || !::RemoveDirectoryW(path.c_str()))
                    complete = false;
            } else {
                if (attributes & FILE_ATTRIBUTE_READONLY)
                    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                files.push_back(path);
            }
            return true;
        });
    return deleteFiles(files, stopRequested) && listed && complete;
}

// The nearest of `path` and its existing ancestors that is a link. A root is never one (no listing
// above it holds its tag); the walk ends there, before the library's parent would leave
// \\server\share or \\?\C:.
std::optional<std::filesystem::path> firstLinkOnPath(const std::filesystem::path& path) {
    std::filesystem::path current = normalizedAbsolutePath(path);
    while (!isPathRoot(current)) {
        if (isLinkAt(current.native(), ::GetFileAttributesW(current.c_str()))) return current;
        std::filesystem::path parent = current.parent_path();
        if (parent.empty() || parent == current) break;
        current = std::move(parent);
    }
    return std::nullopt;
}

} // namespace

bool isLinkEntry(std::uint32_t attributes, std::uint32_t reparseTag) {
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        return false;
    // Wine reports a Unix symbolic link with tag 0: an unknown tag stays a link.
    return reparseTag == 0 || IsReparseTagNameSurrogate(reparseTag);
}

bool isLinkAt(const std::wstring& path, std::uint32_t attributes) {
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        return false;
    // Without a wildcard the search finds the entry itself, tag included (in dwReserved0).
    WIN32_FIND_DATAW entry{};
    const UniqueFind find{
        ::FindFirstFileExW(path.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0)};
    const bool tagRead = find && (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    return isLinkEntry(attributes, tagRead ? entry.dwReserved0 : 0);
}

void rejectDirectoryLinks(const std::filesystem::path& path) {
    if (const std::optional<std::filesystem::path> link = firstLinkOnPath(path)) {
        logEvent("path.link_refused", {{"directory", *link}, {"path", path}});
        throw Error("安装路径不能包含目录链接。");
    }
}

void removeTreeSafely(const std::filesystem::path& target, const std::filesystem::path& expectedParent,
                      const StopRequested& stopRequested) noexcept {
    try {
        const std::filesystem::path directory = normalizedAbsolutePath(target);
        const std::filesystem::path parent = normalizedAbsolutePath(expectedParent);
        if (!samePathIgnoringCase(parentDirectory(directory), parent) ||
            samePathIgnoringCase(directory, parent))
            return;
        rejectDirectoryLinks(directory);

        const DWORD attributes = ::GetFileAttributesW(directory.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) return;
        const bool removed = isDirectory(attributes) ? treeHasNoLinks(directory, stopRequested) &&
                                                           removeContents(directory, stopRequested) &&
                                                           ::RemoveDirectoryW(directory.c_str())
                                                     : ::DeleteFileW(directory.c_str());
        if (!removed) logEvent("cleanup.incomplete", {{"path", directory}});
    } catch (...) {
        // Leftovers are harmless; a failure here must never mask the error that led to cleanup.
        logEvent("cleanup.incomplete", {{"path", target}});
    }
}

} // namespace launcher
