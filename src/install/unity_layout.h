#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace launcher {

// Whether `executable` is the .exe of a complete Unity client: the file itself, a non-empty
// <name>_Data directory and UnityPlayer.dll beside it. Reads metadata only. Throws the
// platform's filesystem_error only when a query fails for a reason other than absence.
bool isUnityClientLayout(const std::filesystem::path& executable);

// What the layout check needs to know of one path.
enum class LayoutEntry { missing, file, emptyDirectory, directory };

// The same check against any listing, such as a package's entries: `entryAt` answers for the
// paths it asks about, ignoring letter case as the file system does.
bool isUnityClientLayoutIn(const std::filesystem::path& executable,
                           const std::function<LayoutEntry(const std::wstring& path)>& entryAt);

// The parts the check above asks about, in its order.
enum class UnityLayoutPart {
    executableName, // the name does not end in .exe
    executable,     // the file itself
    dataFolder,     // <name>_Data beside it, not empty
    unityPlayer,    // UnityPlayer.dll beside it
};

// The first part the check finds wrong: the path it asked about and what it found there.
struct UnityLayoutGap {
    UnityLayoutPart part = UnityLayoutPart::executable;
    std::wstring path;
    LayoutEntry found = LayoutEntry::missing;
};

// The same check, saying what fails it, for a publisher who must put it right; nothing when the
// layout is complete.
std::optional<UnityLayoutGap>
findUnityLayoutGap(const std::filesystem::path& executable,
                   const std::function<LayoutEntry(const std::wstring& path)>& entryAt);

// What the install reports for a package that fails the check.
inline constexpr const char* incompleteClientMessage =
    "ZIP 内未找到完整 Unity 客户端，请检查 EXE 路径、_Data 目录和 UnityPlayer.dll。";

} // namespace launcher
