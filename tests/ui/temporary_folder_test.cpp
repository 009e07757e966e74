#include "support/test_support.h"
#include "ui/temporary_folder.h"

#include <gtest/gtest.h>

namespace launcher {
namespace {

// The installer's folder and an Explorer ZIP folder against what GetTempPath answers: TMP or
// TEMP as set, or with both unset the profile or the Windows folder.
TEST(TemporaryFolder, OnlyARealTemporaryFolderIsOne) {
    const std::wstring profile = L"C:\\Users\\player";
    const std::wstring local = profile + L"\\AppData\\Local";
    const std::wstring installed = local + L"\\Programs\\曜石纪元";
    const std::wstring zipFolder = local + L"\\Temp\\Temp1_曜石纪元.zip\\曜石纪元";
    struct Case {
        std::wstring own, temp;
        bool refused;
    };
    const Case cases[] = {
        {zipFolder, local + L"\\Temp", true},
        {zipFolder, L"c:\\users\\PLAYER\\appdata\\local\\temp\\", true},
        {L"D:\\Tmp\\game", L"D:\\Tmp", true},
        {local + L"\\Temp2\\game", local + L"\\Temp", false},
        {installed, L"C:\\", false},                    // TEMP at a drive root
        {installed, profile, false},                    // both unset: USERPROFILE
        {L"C:\\Windows\\Games", L"C:\\Windows", false}, // and without a profile
        {installed, profile + L"\\AppData", false},
        {installed, local, false},
        {installed, L"C:\\Users", false},
        {zipFolder, L"", false}, // the system could not say
    };
    for (const Case& c : cases) {
        const UserFolders folders{c.temp, L"C:\\Windows", profile, local};
        EXPECT_EQ(isInTemporaryFolder(c.own, folders), c.refused) << testing::narrow(c.temp);
    }
    // A profile kept elsewhere than the local application data is no temporary folder either.
    EXPECT_FALSE(isInTemporaryFolder(L"D:\\Profiles\\player\\Games\\曜石纪元",
                                     {L"D:\\Profiles\\player", L"C:\\Windows", L"D:\\Profiles\\player",
                                      L"C:\\Users\\player\\AppData\\Local"}));
}

} // namespace
} // namespace launcher
