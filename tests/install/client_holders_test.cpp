#include "foundation/unique_handle.h"
#include "install/client_holders.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace launcher {
namespace {

namespace fs = std::filesystem;

std::error_code win32(DWORD code) {
    return std::error_code(static_cast<int>(code), std::system_category());
}

// Access denied is also what a real permission problem answers: only a process that holds the
// old client's programs makes the failure a running game.
TEST(HeldClient, GameRunningOnlyWhenTheRenameWasRefusedForHeldFilesAndSomeoneHoldsThem) {
    const char* running = "游戏正在运行，请关闭游戏后重试。";
    const struct {
        DWORD error;
        std::size_t holders;
        const char* sentence;
    } cases[] = {
        {ERROR_SHARING_VIOLATION, 1, running}, {ERROR_ACCESS_DENIED, 2, running},
        {ERROR_LOCK_VIOLATION, 1, running},    {ERROR_ACCESS_DENIED, 0, nullptr},
        {ERROR_SHARING_VIOLATION, 0, nullptr}, {ERROR_FILE_NOT_FOUND, 1, nullptr},
        {ERROR_DISK_FULL, 3, nullptr},
    };
    for (const auto& c : cases) {
        const char* sentence = heldClientSentence(win32(c.error), c.holders);
        EXPECT_STREQ(sentence == nullptr ? "<rename error>" : sentence,
                     c.sentence == nullptr ? "<rename error>" : c.sentence)
            << c.error << " " << c.holders;
    }
}

// Wine 8's Restart Manager is a stub that reports no process for any file, so the question is
// asked there (the walk runs) but only Windows can show the game found.
TEST(HeldClient, RunningGameIsFoundAmongTheClientsPrograms) {
    testing::TempDir dir;
    const fs::path game = dir / L"TalvoPC";
    fs::create_directories(game / L"talvo_Data");
    fs::copy_file(STANDIN_GAME_EXE, game / L"talvo.exe");
    fs::copy_file(STANDIN_UNITY_PLAYER_DLL, game / L"UnityPlayer.dll");
    std::wstring commandLine = L"\"" + (game / L"talvo.exe").native() + L"\" --standin=invisible";
    STARTUPINFOW startup{sizeof(startup)};
    PROCESS_INFORMATION created{};
    ASSERT_TRUE(::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 game.c_str(), &startup, &created));
    const UniqueKernelHandle process{created.hProcess};
    const UniqueKernelHandle thread{created.hThread};
    ::WaitForInputIdle(process.get(), 10000);
    const std::vector<std::wstring> holders = processesHoldingClient(dir.path());
    ::TerminateProcess(process.get(), 0);
    ::WaitForSingleObject(process.get(), 10000);
    if (testing::runningUnderWine())
        GTEST_SKIP() << "Wine's Restart Manager reports no process for any file (it named " << holders.size()
                     << ")";
    EXPECT_EQ(holders.size(), 1u);
}

} // namespace
} // namespace launcher
