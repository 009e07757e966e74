#include "install/unity_layout.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace launcher {
namespace {

using testing::TempDir;
using testing::writeBytes;
namespace fs = std::filesystem;

// Lays out Game.exe, Game_Data/level0 and UnityPlayer.dll in `dir`.
void layOut(const fs::path& dir) {
    writeBytes(dir / L"Game.exe", "MZ");
    fs::create_directory(dir / L"Game_Data");
    writeBytes(dir / L"Game_Data" / L"level0", "data");
    writeBytes(dir / L"UnityPlayer.dll", "MZ");
}

TEST(UnityLayout, CompleteClientIsRecognisedWhateverTheLetterCase) {
    TempDir dir;
    layOut(dir.path());
    EXPECT_TRUE(isUnityClientLayout(dir / L"Game.exe"));
    EXPECT_TRUE(isUnityClientLayout(dir / L"Game.EXE"));
    EXPECT_TRUE(isUnityClientLayout(dir / L"GAME.exe")) << "Game_Data and the file system ignore case";
}

TEST(UnityLayout, ExecutableMustBeAnExeFile) {
    TempDir dir;
    layOut(dir.path());
    writeBytes(dir / L"Game.exe.bak", "MZ");
    writeBytes(dir / L"Game", "MZ");
    writeBytes(dir / L".exe", "MZ");
    fs::create_directory(dir / L"Folder.exe");
    for (const wchar_t* name : {L"Game.exe.bak", L"Game", L".exe", L"Folder.exe", L"Missing.exe"})
        EXPECT_FALSE(isUnityClientLayout(dir / name)) << testing::narrow(name);
}

TEST(UnityLayout, DataDirectoryAndPlayerLibraryMustBeThere) {
    TempDir dir;
    layOut(dir.path());
    fs::remove(dir / L"Game_Data" / L"level0");
    EXPECT_FALSE(isUnityClientLayout(dir / L"Game.exe")) << "empty data directory";
    fs::remove(dir / L"Game_Data");
    writeBytes(dir / L"Game_Data", "not a directory");
    EXPECT_FALSE(isUnityClientLayout(dir / L"Game.exe"));

    TempDir other;
    layOut(other.path());
    fs::remove(other / L"UnityPlayer.dll");
    EXPECT_FALSE(isUnityClientLayout(other / L"Game.exe"));
    fs::create_directory(other / L"UnityPlayer.dll");
    EXPECT_FALSE(isUnityClientLayout(other / L"Game.exe")) << "a directory named like the library";
}

} // namespace
} // namespace launcher
