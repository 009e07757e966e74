#include "pack/client_folder.h"

#include "filesystem/directory_links.h"
#include "foundation/path_normal.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"
#include "install/package_extraction.h"
#include "pack/refused_entry.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

namespace launcher {
namespace {

[[noreturn]] void refuse(const Error& refusal, const std::wstring& relative) {
    try {
        throw RefusedEntry(refusal, utf16ToUtf8(relative));
    } catch (const RefusedEntry&) {
        throw;
    } catch (const Error&) {
        // A name that is not valid UTF-16 is shown with its units, which is all it has.
        std::string shown;
        for (const wchar_t unit : relative) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(unit));
            shown += unit < 0x80 ? std::string(1, static_cast<char>(unit)) : std::string(escaped);
        }
        throw RefusedEntry(refusal, shown);
    }
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
            throw Error("无法读取客户端文件夹：" + utf16ToUtf8(directory));
        }
        do {
            const std::wstring_view name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            add(directory + L'\\' + found.cFileName, prefix + found.cFileName, found);
        } while (::FindNextFileW(find.get(), &found));
        if (::GetLastError() != ERROR_NO_MORE_FILES)
            throw Error("无法读取客户端文件夹：" + utf16ToUtf8(directory));
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
        if (isLinkEntry(entry.dwFileAttributes, entry.dwReserved0)) {
            try {
                refuseUnsupportedEntry();
            } catch (const Error& refusal) {
                refuse(refusal, relative);
            }
        }
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
        throw Error("客户端文件夹不存在：" + utf16ToUtf8(root.native()));
    FolderWalk walk(token);
    walk.read(folder.native(), L"");

    // The rules see the entries in archive order, so a refusal always names the same one.
    std::vector<PackEntry> entries;
    entries.reserve(walk.found.size());
    for (FolderWalk::Found& item : walk.found) {
        std::string name;
        try {
            name = utf16ToUtf8(item.name);
        } catch (const Error& refusal) {
            refuse(refusal, item.name);
        }
        entries.push_back(PackEntry{.name = std::move(name),
                                    .source = item.directory ? std::wstring() : std::move(item.path),
                                    .size = item.size,
                                    .directory = item.directory});
    }
    // std::string compares as unsigned bytes: UTF-8 byte order.
    std::ranges::sort(entries, {}, &PackEntry::name);

    PackageEntryPaths paths(rules.installDirectory.native(), rules.installDirectory.native());
    std::uint64_t total = 0;
    std::uint64_t count = 0;
    for (const PackEntry& entry : entries) {
        try {
            paths.accept(multiByteToUtf16(entry.name, codePageUtf8));
            checkPackageEntryCount(++count);
            addPackageEntrySize(total, entry.size, rules.maxExtractBytes);
        } catch (const Error& refusal) {
            throw RefusedEntry(refusal, entry.name.ends_with('/')
                                            ? entry.name.substr(0, entry.name.size() - 1)
                                            : entry.name);
        }
    }
    return entries;
}

} // namespace launcher
