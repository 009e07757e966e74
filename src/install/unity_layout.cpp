#include "install/unity_layout.h"

#include "foundation/text.h"

namespace launcher {

bool isUnityClientLayout(const std::filesystem::path& executable) {
    namespace fs = std::filesystem;
    const std::wstring fileName = executable.filename().native();
    const std::size_t dot = fileName.rfind(L'.');
    // A leading dot starts a name, not an extension: ".exe" has none.
    if (dot == std::wstring::npos || dot == 0 || toLowerCase(fileName.substr(dot)) != L".exe") return false;
    if (!fs::is_regular_file(executable)) return false;

    const fs::path directory = executable.parent_path();
    const fs::path data = directory / (fileName.substr(0, dot) + L"_Data");
    if (!fs::is_directory(data) || fs::is_empty(data)) return false;
    return fs::is_regular_file(directory / L"UnityPlayer.dll");
}

} // namespace launcher
