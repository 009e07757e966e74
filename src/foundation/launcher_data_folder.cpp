#include "foundation/launcher_data_folder.h"

#include "foundation/unique_handle.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

namespace launcher {

std::optional<std::filesystem::path> launcherDataFolder() {
    PWSTR folder = nullptr;
    const HRESULT result = ::SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &folder);
    const UniqueCoTaskMemory<wchar_t> owner{folder};
    if (FAILED(result) || folder == nullptr) return std::nullopt;
    return launcherDataFolderIn(folder);
}

std::filesystem::path launcherDataFolderIn(const std::filesystem::path& localAppData) {
    return localAppData / L"K3Gatehouse";
}

} // namespace launcher
