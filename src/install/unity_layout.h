#pragma once

#include <filesystem>

namespace launcher {

// Whether `executable` is the .exe of a complete Unity client: the file itself, a non-empty
// <name>_Data directory and UnityPlayer.dll beside it. Reads metadata only. Throws the
// platform's filesystem_error only when a query fails for a reason other than absence.
bool isUnityClientLayout(const std::filesystem::path& executable);

} // namespace launcher
