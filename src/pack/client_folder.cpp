#include "pack/client_folder.h"

#include "filesystem/directory_links.h"
#include "foundation/path_normal.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"
#include "pack/entry_rules.h"
#include "pack/tool_refusal.h"

#include <windows.h>

#include <algorithm>

namespace launcher {
namespace {

[[noreturn]] void refuseUnreadableFolder(const std::wstring& directory) {
    const DWORD error = ::GetLastError();
    throw ToolRefusal("无法读取客户端文件夹。", {.rule = "client-folder-unreadable",
                                                 .kind = RefusalSubject::file,
                                                 .subject = shownText(directory),
                                                 .expected = {},
                                                 .actual = systemReason(static_cast<int>(error))});
}

// Everything below a folder, never entering a link.
class FolderWalk {
public:
    explicit FolderWalk(const CancelToken& token) : token_(token) {}

    // Lists `directory` (a long path) whose entries are named `prefix` + their own name.
    void read(const std::wstring& directory, const std::wstring& prefix) {
        throwIfCanceled(token_);
        WIN32_FIND_DATAW found{};
        const UniqueFind find{::FindFirstFileExW((directory + L"\\*").c_str(), FindExInfoBasic, &found,
                                                 FindExSearchNameMatch, nullptr, 0)};
        if (!find) {
            if (::GetLastError() == ERROR_FILE_NOT_FOUND) return;
            refuseUnreadableFolder(directory);
        }
        do {
            const std::wstring_view name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            add(directory + L'\\' + found.cFileName, prefix + found.cFileName, found);
        } while (::FindNextFileW(find.get(), &found));
        if (::GetLastError() != ERROR_NO_MORE_FILES) refuseUnreadableFolder(directory);
    }

    struct Found {
        std::wstring name; // relative, "/" separators, a directory ends in "/"
        std::wstring path;
        std::uint64_t size;
        bool directory;
    };
    std::vector<Found> found;

private:
    void add(const std::wstring& path, const std::wstring& relative, const WIN32_FIND_DATAW& entry) {
        // Cloud placeholders and other reparse points that are not links are ordinary files.
        if (isLinkEntry(entry.dwFileAttributes, entry.dwReserved0))
            throw ToolRefusal("客户端文件夹中有链接；启动器拒绝含有链接的安装包。",
                              {.rule = "entry-link",
                               .kind = RefusalSubject::entry,
                               .subject = shownText(relative),
                               .expected = "a file or a folder",
                               .actual = "a link (symbolic link, junction or mount point)"});
        const bool directory = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const std::uint64_t size =
            directory ? 0 : (std::uint64_t{entry.nFileSizeHigh} << 32) | entry.nFileSizeLow;
        found.push_back({directory ? relative + L'/' : relative, path, size, directory});
        if (directory) read(path, relative + L'/');
    }

    const CancelToken& token_;
};

} // namespace

std::vector<PackEntry> readClientFolder(const std::filesystem::path& root, const ClientRules& rules,
                                        const CancelToken& token) {
    const std::filesystem::path folder = extendedLengthPath(normalizedAbsolutePath(root));
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        throw ToolRefusal("客户端文件夹不存在。",
                          {.rule = "client-folder-missing",
                           .kind = RefusalSubject::file,
                           .subject = shownPath(root),
                           .expected = "a folder",
                           .actual = attributes == INVALID_FILE_ATTRIBUTES ? "missing" : "a file"});
    FolderWalk walk(token);
    walk.read(folder.native(), L"");

    // The rules see the entries in archive order, so a refusal always names the same one.
    std::vector<PackEntry> entries;
    entries.reserve(walk.found.size());
    for (FolderWalk::Found& item : walk.found) {
        std::string name;
        try {
            name = utf16ToUtf8(item.name);
        } catch (const Error&) {
            throw ToolRefusal("客户端文件名不是有效的 Unicode 文本。",
                              {.rule = "entry-name-encoding",
                               .kind = RefusalSubject::entry,
                               .subject = shownText(item.name),
                               .expected = "a name that is valid UTF-16, so that it can be stored as UTF-8",
                               .actual = "an unpaired surrogate (shown as \\uXXXX)"});
        }
        entries.push_back(PackEntry{.name = std::move(name),
                                    .source = item.directory ? std::wstring() : std::move(item.path),
                                    .size = item.size,
                                    .directory = item.directory});
    }
    // std::string compares as unsigned bytes: UTF-8 byte order.
    std::ranges::sort(entries, {}, &PackEntry::name);

    std::vector<std::uint64_t> sizes;
    sizes.reserve(entries.size());
    for (const PackEntry& entry : entries)
        sizes.push_back(entry.size);
    checkEntryCount(entries.size(), RefusalSubject::file, shownPath(root));
    checkEntryBytes(sizes, rules.maxExtractBytes, RefusalSubject::file, shownPath(root));
    checkEntryNames(
        entries.size(),
        [&](std::size_t index) {
            const std::string& name = entries[index].name;
            return EntryName{.name = multiByteToUtf16(name, codePageUtf8),
                             .shown = name.ends_with('/') ? name.substr(0, name.size() - 1) : name};
        },
        rules.installDirectory.native());
    return entries;
}

} // namespace launcher
