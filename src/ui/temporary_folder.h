#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace launcher {

// The folders that decide whether a launcher runs from the user's temporary folder, each a full
// path as normalizedAbsolutePath gives it in its long form; empty when the system cannot say.
struct UserFolders {
    std::wstring temp;         // what GetTempPath answers
    std::wstring windows;      // C:\Windows
    std::wstring profile;      // C:\Users\<user>
    std::wstring localAppData; // C:\Users\<user>\AppData\Local
};

// Whether `ownDirectory` lies in the temporary folder. With TMP and TEMP unset the system names
// the profile or the Windows folder, and TEMP may name a drive root: none of those, nor the
// local application-data folder or any folder above it, is a temporary folder. Pure.
bool isInTemporaryFolder(std::wstring_view ownDirectory, const UserFolders& folders);

// Refuses a launcher started inside the temporary folder, where Explorer runs a program opened
// from inside a ZIP: cleaners empty that folder, and the client installed beside us with it.
// Throws Error("请先将启动器解压到一个文件夹，再从那里运行。"). Window thread, before anything is written.
void refuseTemporaryFolder(const std::filesystem::path& ownDirectory);

} // namespace launcher
