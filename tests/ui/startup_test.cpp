// Gatehouse.exe itself, started as a player starts it, with configurations that must stop it
// before any window: the error box it shows and its exit code.
#include "foundation/unique_handle.h"
#include "net/file_digest.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <stdexcept>

namespace launcher {
namespace {

namespace fs = std::filesystem;

struct StartupOutcome {
    std::wstring caption;
    std::wstring text;
    DWORD exitCode = STILL_ACTIVE;
};

// Starts a copy of the launcher in `dir`, closes the box it shows and waits for its end.
StartupOutcome startIn(const fs::path& dir) {
    fs::copy_file(GATEHOUSE_EXE, dir / L"Gatehouse.exe");
    std::wstring commandLine = L"\"" + (dir / L"Gatehouse.exe").native() + L"\" --ignored-option";
    STARTUPINFOW startup{sizeof(startup)};
    PROCESS_INFORMATION created{};
    StartupOutcome outcome;
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(),
                          &startup, &created))
        return outcome;
    const UniqueKernelHandle process{created.hProcess};
    const UniqueKernelHandle thread{created.hThread};
    for (int i = 0; i < 500 && ::WaitForSingleObject(process.get(), 20) == WAIT_TIMEOUT; ++i) {
        for (const wchar_t* caption : {L"曜石纪元 · 启动器", L"曜石纪元"}) {
            HWND box = ::FindWindowW(L"#32770", caption);
            DWORD owner = 0;
            if (box == nullptr || (::GetWindowThreadProcessId(box, &owner), owner != created.dwProcessId))
                continue;
            wchar_t text[256] = {};
            // The box's text control is 0xFFFF on Windows and 100 under Wine.
            if (::GetDlgItemTextW(box, 0xFFFF, text, 256) == 0) ::GetDlgItemTextW(box, 100, text, 256);
            if (text[0] == L'\0') continue; // still being filled in
            outcome = {caption, text};
            ::PostMessageW(box, WM_COMMAND, IDOK, 0);
        }
    }
    ::GetExitCodeProcess(process.get(), &outcome.exitCode);
    if (outcome.exitCode == STILL_ACTIVE) ::TerminateProcess(process.get(), 9);
    return outcome;
}

// Where a player unpacks the launcher: below the local application data folder, beside the
// temporary folder rather than inside it.
fs::path unpackedLocation() {
    PWSTR folder = nullptr;
    const HRESULT result = ::SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &folder);
    const UniqueCoTaskMemory<wchar_t> owner{folder};
    if (FAILED(result) || folder == nullptr) throw std::runtime_error("no local application data folder");
    return folder;
}

StartupOutcome startWithConfig(const std::string& config) {
    testing::TempDir dir(unpackedLocation());
    testing::writeBytes(dir / L"launcher.config.json", config);
    return startIn(dir.path());
}

TEST(Startup, InvalidConfigurationShowsItsMessageAndExitsWithOne) {
    const StartupOutcome notAnObject = startWithConfig("[]");
    EXPECT_EQ(notAnObject.caption, L"曜石纪元 · 启动器");
    EXPECT_EQ(notAnObject.text, L"启动器配置文件无效。");
    EXPECT_EQ(notAnObject.exitCode, 1u);

    const StartupOutcome otherPlatform = startWithConfig(R"({"platId": 82})");
    EXPECT_EQ(otherPlatform.text, L"当前启动器配置不适用于 PCtalvoSDK。");
    EXPECT_EQ(otherPlatform.exitCode, 1u);
}

TEST(Startup, UnreadableConfigurationShowsTheGenericMessage) {
    const StartupOutcome outcome = startWithConfig("{ not json");
    EXPECT_EQ(outcome.caption, L"曜石纪元");
    EXPECT_EQ(outcome.text, L"无法读取启动器配置或创建界面，请重新安装后重试。");
    EXPECT_EQ(outcome.exitCode, 1u);
}

// Support reads from the first line which build started: its digest, and whether it asks an
// update channel (this build does not).
TEST(Startup, LogNamesTheBuildByItsDigestAndSaysWhetherItFollowsAnUpdateChannel) {
    testing::TempDir dir(unpackedLocation());
    testing::writeBytes(dir / L"launcher.config.json", "[]");
    ASSERT_EQ(startIn(dir.path()).exitCode, 1u);
    const std::string log =
        testing::readBytes(unpackedLocation() / L"K3Gatehouse" / L"Logs" / L"launcher.log");
    const std::string directory = "directory=" + testing::narrow(dir.path().native());
    const std::size_t at = log.find(directory);
    ASSERT_NE(at, std::string::npos) << log;
    const std::string line = log.substr(at, log.find_first_of("\r\n", at) - at);
    EXPECT_EQ(line, directory + " updates=off keys=\"\" sha256=" + sha256OfFile(dir / L"Gatehouse.exe"));
}

// Explorer runs a program opened inside a ZIP from a folder below the temporary folder, which
// cleaners empty: nothing may be installed or written there. Many systems name that folder in its
// short form (C:\Users\ADMINI~1\...), which the program's own path never is.
TEST(Startup, LauncherInTheTemporaryFolderAsksToBeUnpackedAndWritesNothing) {
    for (const bool shortTemp : {false, true}) {
        testing::TempDir dir; // below this program's GetTempPathW, which the launcher inherits
        std::wstring savedTmp(MAX_PATH, L'\0');
        savedTmp.resize(::GetEnvironmentVariableW(L"TMP", savedTmp.data(), MAX_PATH));
        wchar_t shortForm[MAX_PATH] = {};
        if (shortTemp) {
            ASSERT_NE(::GetShortPathNameW(dir.path().c_str(), shortForm, MAX_PATH), 0u);
            ASSERT_NE(dir.path().native(), shortForm) << "no short form to try";
            ::SetEnvironmentVariableW(L"TMP", shortForm);
        }
        const StartupOutcome outcome = startIn(dir.path());
        ::SetEnvironmentVariableW(L"TMP", savedTmp.empty() ? nullptr : savedTmp.c_str());
        EXPECT_EQ(outcome.caption, L"曜石纪元 · 启动器") << shortTemp;
        EXPECT_EQ(outcome.text, L"请先将启动器解压到一个文件夹，再从那里运行。") << shortTemp;
        EXPECT_EQ(outcome.exitCode, 1u) << shortTemp;
        EXPECT_EQ(testing::listNames(dir.path()), std::vector<std::wstring>{L"Gatehouse.exe"}) << shortTemp;
    }
}

// With TMP and TEMP unset the system names the profile folder as the temporary folder, and TEMP
// may name a drive root: the installer's folder below the local application data lies below both,
// and the launcher there must start (here as far as the configuration it is given).
TEST(Startup, LauncherBelowAFolderThatOnlyStandsInForTemporaryStarts) {
    const fs::path programs = unpackedLocation() / L"Programs";
    fs::create_directories(programs);
    for (const wchar_t* temp : {L"C:\\", static_cast<const wchar_t*>(nullptr)}) {
        testing::TempDir dir(programs);
        testing::writeBytes(dir / L"launcher.config.json", "[]");
        std::wstring saved[2];
        const wchar_t* names[] = {L"TMP", L"TEMP"};
        for (int i = 0; i < 2; ++i) {
            saved[i].resize(MAX_PATH);
            saved[i].resize(::GetEnvironmentVariableW(names[i], saved[i].data(), MAX_PATH));
            ::SetEnvironmentVariableW(names[i], temp);
        }
        const StartupOutcome outcome = startIn(dir.path());
        for (int i = 0; i < 2; ++i)
            ::SetEnvironmentVariableW(names[i], saved[i].empty() ? nullptr : saved[i].c_str());
        const std::string label = temp == nullptr ? "unset" : "drive root";
        EXPECT_EQ(outcome.text, L"启动器配置文件无效。") << label;
        EXPECT_EQ(outcome.exitCode, 1u) << label;
    }
}

} // namespace
} // namespace launcher
