#include "install/unity_layout.h"

#include "foundation/text.h"
#include "foundation/unique_handle.h"

#include <windows.h>

#include <system_error>

namespace launcher {
namespace {

// The platform's own queries: the library's take no \\?\ path, which a staged client has.
DWORD attributesOf(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) return attributes;
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME ||
        error == ERROR_BAD_NETPATH)
        return INVALID_FILE_ATTRIBUTES;
    throw std::filesystem::filesystem_error("cannot read attributes", std::filesystem::path(path),
                                            std::error_code(static_cast<int>(error), std::system_category()));
}

// The file system's answer for `path`, reading the directory's listing only as far as its first entry.
LayoutEntry entryOnDisk(const std::wstring& path) {
    const DWORD attributes = attributesOf(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DEVICE))
        return LayoutEntry::missing;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return LayoutEntry::file;
    WIN32_FIND_DATAW entry{};
    const UniqueFind find{::FindFirstFileExW((path + L"\\*").c_str(), FindExInfoBasic, &entry,
                                             FindExSearchNameMatch, nullptr, 0)};
    if (!find) return LayoutEntry::emptyDirectory;
    do {
        const std::wstring_view name = entry.cFileName;
        if (name != L"." && name != L"..") return LayoutEntry::directory;
    } while (::FindNextFileW(find.get(), &entry));
    return LayoutEntry::emptyDirectory;
}

} // namespace

bool isUnityClientLayout(const std::filesystem::path& executable) {
    return isUnityClientLayoutIn(executable, entryOnDisk);
}

bool isUnityClientLayoutIn(const std::filesystem::path& executable,
                           const std::function<LayoutEntry(const std::wstring& path)>& entryAt) {
    return !findUnityLayoutGap(executable, entryAt);
}

std::optional<UnityLayoutGap>
findUnityLayoutGap(const std::filesystem::path& executable,
                   const std::function<LayoutEntry(const std::wstring& path)>& entryAt) {
    const std::wstring& path = executable.native();
    const std::wstring fileName = executable.filename().native();
    const std::size_t dot = fileName.rfind(L'.');
    // A leading dot starts a name, not an extension: ".exe" has none.
    if (dot == std::wstring::npos || dot == 0 || toLowerCase(fileName.substr(dot)) != L".exe")
        return UnityLayoutGap{
            .part = UnityLayoutPart::executableName, .path = path, .found = LayoutEntry::missing};
    const auto expect = [&](UnityLayoutPart part, const std::wstring& asked,
                            LayoutEntry wanted) -> std::optional<UnityLayoutGap> {
        const LayoutEntry found = entryAt(asked);
        if (found == wanted) return std::nullopt;
        return UnityLayoutGap{.part = part, .path = asked, .found = found};
    };
    const std::wstring directory = path.substr(0, path.size() - fileName.size());
    if (auto gap = expect(UnityLayoutPart::executable, path, LayoutEntry::file)) return gap;
    if (auto gap = expect(UnityLayoutPart::dataFolder, directory + fileName.substr(0, dot) + L"_Data",
                          LayoutEntry::directory))
        return gap;
    return expect(UnityLayoutPart::unityPlayer, directory + L"UnityPlayer.dll", LayoutEntry::file);
}

} // namespace launcher
