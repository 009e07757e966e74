#include "foundation/own_executable.h"

#include <windows.h>

#include <string>

namespace launcher {

std::filesystem::path ownExecutablePath() {
    // The longest path the system has; a shorter buffer would cut a deep folder's path.
    std::wstring path(32768, L'\0');
    path.resize(::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path;
}

} // namespace launcher
