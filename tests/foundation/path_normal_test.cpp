#include "foundation/path_normal.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace launcher {
namespace {

// Paths resolve the way Windows opens them: shares and \\?\ paths stay what they are, and a
// trailing dot or space is dropped as the file system drops it.
TEST(NormalizedAbsolutePath, ResolvesAsWindowsOpensThePath) {
    const struct {
        const wchar_t* given;
        const wchar_t* resolved;
    } cases[] = {
        {L"C:\\Games\\.\\x\\..\\Launcher\\", L"C:\\Games\\Launcher"},
        {L"C:/Games//Launcher", L"C:\\Games\\Launcher"},
        {L"C:\\Games\\Launcher.", L"C:\\Games\\Launcher"},
        {L"C:\\Games\\Launcher. ", L"C:\\Games\\Launcher"},
        {L"C:\\Games\\..\\..", L"C:\\"},
        {L"\\\\server\\share\\Launcher", L"\\\\server\\share\\Launcher"},
        {L"//server/share/Launcher/", L"\\\\server\\share\\Launcher"},
        {L"\\\\server\\share\\Launcher\\..\\..", L"\\\\server\\share"},
        {L"\\\\?\\C:\\Games", L"\\\\?\\C:\\Games"},
        {L"\\\\?\\C:\\", L"\\\\?\\C:\\"},
        {L"\\\\?\\UNC\\server\\share\\Launcher", L"\\\\?\\UNC\\server\\share\\Launcher"},
        {L"C:\\Games\\x:stream", L"C:\\Games\\x:stream"},
    };
    for (const auto& [given, resolved] : cases)
        EXPECT_EQ(testing::narrow(normalizedAbsolutePath(given).native()), testing::narrow(resolved))
            << testing::narrow(given);
}

// The long form of a staging directory, and its parent, must name the same places as the short
// ones: a parent that lost its root's separator would keep leftovers from being removed.
TEST(ExtendedLengthPath, KeepsThePlaceAndItsParent) {
    const struct {
        const wchar_t* path;
        const wchar_t* extended;
        const wchar_t* parentOfExtended;
    } cases[] = {
        {L"C:\\Games\\GameClient", L"\\\\?\\C:\\Games\\GameClient", L"\\\\?\\C:\\Games"},
        {L"C:\\GameClient", L"\\\\?\\C:\\GameClient", L"\\\\?\\C:\\"},
        {L"\\\\cafe\\games\\GameClient", L"\\\\?\\UNC\\cafe\\games\\GameClient", L"\\\\?\\UNC\\cafe\\games"},
        {L"\\\\?\\D:\\GameClient", L"\\\\?\\D:\\GameClient", L"\\\\?\\D:\\"},
    };
    for (const auto& [path, extended, parentOfExtended] : cases) {
        EXPECT_EQ(testing::narrow(extendedLengthPath(path).native()), testing::narrow(extended));
        EXPECT_EQ(testing::narrow(parentDirectory(extended).native()), testing::narrow(parentOfExtended));
    }
}

// Whole components decide, never a shared prefix of names; case and a trailing separator do not.
TEST(SameOrBelowDirectory, MatchesWholeComponentsIgnoringCase) {
    const wchar_t* temp = L"C:\\Users\\Player\\AppData\\Local\\Temp";
    const struct {
        const wchar_t* path;
        const wchar_t* directory;
        bool below;
    } cases[] = {
        {temp, temp, true},
        {L"C:\\Users\\Player\\AppData\\Local\\Temp\\Temp1_Launcher.zip", temp, true},
        {L"C:\\Users\\Player\\AppData\\Local\\Temp2", temp, false},
        {L"C:\\Users\\Player\\AppData\\Local", temp, false},
        {L"c:\\users\\PLAYER\\appdata\\local\\TEMP\\x", temp, true},
        {L"C:\\Users\\Player\\AppData\\Local\\Temp\\", temp, true},
        {L"C:\\Users\\Player\\AppData\\Local\\Temp\\x", L"C:\\Users\\Player\\AppData\\Local\\Temp\\", true},
        {L"C:\\Games", L"C:\\", true},
        {L"D:\\Temp", L"C:\\Temp", false},
        {L"\\\\server\\share\\Temp\\x", L"\\\\server\\share\\Temp", true},
        {L"\\\\server\\share\\Temp2", L"\\\\server\\share\\Temp", false},
        {L"\\\\server\\share\\x", L"\\\\server\\share", true},
        {L"\\\\server\\shared", L"\\\\server\\share", false},
    };
    for (const auto& [path, directory, below] : cases)
        EXPECT_EQ(isSameOrBelowDirectory(path, directory), below)
            << testing::narrow(path) << " in " << testing::narrow(directory);
}

} // namespace
} // namespace launcher
