#include "filesystem/path_rules.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace launcher {
namespace {

using testing::failureOf;

const std::filesystem::path base = L"C:\\Games\\Launcher\\GameClient.staging";

std::wstring resolved(std::wstring_view relative) {
    return resolvePackagePath(base, relative).native();
}

TEST(ResolvePackagePath, JoinsSafeRelativePathsBelowTheBase) {
    const std::wstring root = base.native();
    EXPECT_EQ(resolved(L"TalvoPC/talvo-曜石纪元.exe"), root + L"\\TalvoPC\\talvo-曜石纪元.exe");
    EXPECT_EQ(resolved(L"Dir\\File.dll"), resolved(L"Dir/File.dll"));
    EXPECT_EQ(resolved(L"a//b"), root + L"\\a\\b");
    EXPECT_EQ(resolved(L"a/b/"), root + L"\\a\\b");
    EXPECT_EQ(resolved(L"a.b.c"), root + L"\\a.b.c");
    EXPECT_EQ(resolved(L"TalvoPC_Data/Managed/UnityEngine.dll"),
              root + L"\\TalvoPC_Data\\Managed\\UnityEngine.dll");
    EXPECT_EQ(resolved(L"com10/console/nul_/lpt/.hidden"), root + L"\\com10\\console\\nul_\\lpt\\.hidden");
    EXPECT_EQ(resolvePackagePath(L"C:\\Games\\.\\Client\\", L"x").native(), L"C:\\Games\\Client\\x");
}

TEST(ResolvePackagePath, RefusesAbsoluteDriveAndEmptyPaths) {
    for (const std::wstring& bad :
         {std::wstring(L""), std::wstring(L"/etc/passwd"), std::wstring(L"\\Windows\\x.dll"),
          std::wstring(L"C:x"), std::wstring(L"C:\\x"), std::wstring(L"dir/x:stream"),
          std::wstring(L"\\\\server\\share\\x"), std::wstring(L"a\0b", 3)})
        EXPECT_EQ(failureOf([&] { resolved(bad); }), "安装包文件路径无效。") << testing::narrow(bad);
}

TEST(ResolvePackagePath, RefusesSegmentsThatClimbOrThatWindowsWouldAlter) {
    for (const wchar_t* bad :
         {L"../x", L"a/../../x", L"..", L"./x", L"a/./b", L"dir/file.", L"dir./file", L"file ", L"dir /file",
          L"a<b", L"a>b", L"a\"b", L"a|b", L"a?b", L"a*b", L"a\tb",
          L"a\x1F"
          L"b",
          L"a\x7F"
          L"b"})
        EXPECT_EQ(failureOf([&] { resolved(bad); }), "安装包包含不安全的文件路径。") << testing::narrow(bad);
}

TEST(ResolvePackagePath, RefusesReservedDeviceNames) {
    for (const wchar_t* bad : {L"CON", L"con.txt", L"dir/Aux.tar.gz", L"PRN", L"nul", L"COM1.log", L"lpt0",
                               L"LPT9.dll", L"x/com5/y", L"con .txt", L"x/nul  .zip", L"COM\u00B9",
                               L"com\u00B2.txt", L"lpt\u00B3", L"Lpt\u00B9 .log"})
        EXPECT_EQ(failureOf([&] { resolved(bad); }), "安装包包含保留文件名。") << testing::narrow(bad);
}

TEST(ResolvePackagePath, RefusesTheInstalledMarkerAnywhere) {
    for (const wchar_t* bad : {L".launcher-installed.json", L"TalvoPC/.Launcher-Installed.JSON",
                               L".launcher-installed.json/inner.txt"})
        EXPECT_EQ(failureOf([&] { resolved(bad); }), "安装包包含保留的安装标记。") << testing::narrow(bad);
}

TEST(ResolvePackagePath, WholeResultMayHoldAtMost240Units) {
    const std::wstring root = base.native();
    const std::size_t room = 240 - root.size() - 1; // one separator before the name
    EXPECT_EQ(resolved(std::wstring(room, L'a')).size(), 240u);
    EXPECT_EQ(failureOf([&] { resolved(std::wstring(room + 1, L'a')); }),
              "安装路径过长或无效，请选择较短的安装目录。");
    // A deeper install directory leaves less room for every entry.
    const std::filesystem::path deep = L"C:\\" + std::wstring(230, L'd');
    EXPECT_EQ(failureOf([&] { resolvePackagePath(deep, L"TalvoPC/talvo.exe"); }),
              "安装路径过长或无效，请选择较短的安装目录。");
}

TEST(ResolvePackagePath, FirstBrokenRuleDecidesTheMessage) {
    EXPECT_EQ(failureOf([] { resolved(L"../CON:x"); }), "安装包文件路径无效。");
    EXPECT_EQ(failureOf([] { resolved(L"CON/../x"); }), "安装包包含保留文件名。");
    EXPECT_EQ(failureOf([] { resolved(L"x/../.launcher-installed.json"); }), "安装包包含不安全的文件路径。");
}

} // namespace
} // namespace launcher
