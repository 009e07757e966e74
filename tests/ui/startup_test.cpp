// Gatehouse.exe itself, started as a player starts it, with configurations that must stop it
// before any window: the error box it shows and its exit code.
#include "foundation/unique_handle.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace launcher {
namespace {

namespace fs = std::filesystem;

struct StartupOutcome {
    std::wstring caption;
    std::wstring text;
    DWORD exitCode = STILL_ACTIVE;
};

// Starts a copy of the launcher beside `config`, closes the box it shows and waits for its end.
StartupOutcome startWithConfig(const std::string& config) {
    testing::TempDir dir;
    fs::copy_file(GATEHOUSE_EXE, dir / L"Gatehouse.exe");
    testing::writeBytes(dir / L"launcher.config.json", config);
    std::wstring commandLine = L"\"" + (dir / L"Gatehouse.exe").native() + L"\" --ignored-option";
    STARTUPINFOW startup{sizeof(startup)};
    PROCESS_INFORMATION created{};
    StartupOutcome outcome;
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          dir.path().c_str(), &startup, &created))
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

} // namespace
} // namespace launcher
