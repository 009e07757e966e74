#include "ui/temporary_folder.h"

#include "foundation/error.h"
#include "foundation/path_normal.h"
#include "foundation/unique_handle.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

namespace launcher {
namespace {

namespace fs = std::filesystem;

// The long form of an existing path; a temporary folder is often given in 8.3 form
// (C:\Users\ADMINI~1\...), which would never match the long path the program runs from.
fs::path longPath(const fs::path& path) {
    std::wstring buffer(32768, L'\0');
    const DWORD length = ::GetLongPathNameW(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0 || length >= buffer.size()) return path;
    buffer.resize(length);
    return buffer;
}

std::wstring fullLongPath(const fs::path& path) {
    if (path.empty()) return {};
    try {
        return normalizedAbsolutePath(longPath(path)).native();
    } catch (const fs::filesystem_error&) {
        return {};
    }
}

// The user's temporary folder, empty if the system cannot say. GetTempPath2W, where the system
// has it (Windows 11, Server 2022), is what newer systems hand out.
fs::path userTempDirectory() {
    using TempPathQuery = DWORD(WINAPI*)(DWORD, LPWSTR);
    TempPathQuery query = ::GetTempPathW;
    if (const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll"))
        if (const FARPROC found = ::GetProcAddress(kernel, "GetTempPath2W"))
            query = reinterpret_cast<TempPathQuery>(reinterpret_cast<void (*)()>(found));
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD length = query(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH + 1) return {};
    return buffer;
}

fs::path knownFolder(REFKNOWNFOLDERID id) {
    PWSTR folder = nullptr;
    const HRESULT result = ::SHGetKnownFolderPath(id, 0, nullptr, &folder);
    const UniqueCoTaskMemory<wchar_t> owner{folder};
    if (FAILED(result) || folder == nullptr) return {};
    return folder;
}

fs::path windowsDirectory() {
    wchar_t buffer[MAX_PATH + 1] = {};
    const UINT length = ::GetWindowsDirectoryW(buffer, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) return {};
    return buffer;
}

bool sameFolder(std::wstring_view a, std::wstring_view b) {
    return !b.empty() && isSameOrBelowDirectory(a, b) && isSameOrBelowDirectory(b, a);
}

} // namespace

bool isInTemporaryFolder(std::wstring_view ownDirectory, const UserFolders& folders) {
    const std::wstring_view temp = folders.temp;
    if (temp.empty() || isPathRoot(fs::path(temp))) return false;
    if (sameFolder(temp, folders.windows) || sameFolder(temp, folders.profile)) return false;
    if (!folders.localAppData.empty() && isSameOrBelowDirectory(folders.localAppData, temp)) return false;
    return isSameOrBelowDirectory(ownDirectory, temp);
}

void refuseTemporaryFolder(const fs::path& ownDirectory) {
    const UserFolders folders{fullLongPath(userTempDirectory()), fullLongPath(windowsDirectory()),
                              fullLongPath(knownFolder(FOLDERID_Profile)),
                              fullLongPath(knownFolder(FOLDERID_LocalAppData))};
    if (isInTemporaryFolder(fullLongPath(ownDirectory), folders))
        throw Error("请先将启动器解压到一个文件夹，再从那里运行。");
}

} // namespace launcher
