#include "foundation/resources.h"
#include "launch/game_launch.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <random>

namespace launcher {
namespace {

using nlohmann::json;
using testing::failureOf;
using testing::TempDir;
namespace fs = std::filesystem;

// What CommandLineToArgvW makes of a command line.
std::vector<std::wstring> split(const std::wstring& commandLine) {
    int count = 0;
    const UniqueLocalMemory<wchar_t*> items{::CommandLineToArgvW(commandLine.c_str(), &count)};
    return std::vector<std::wstring>(items.get(), items.get() + count);
}

// The program name is split by simpler rules, so round trips go through a later argument.
std::wstring roundTrip(std::wstring_view text) {
    return split(L"x.exe " + quoteArgument(text)).at(1);
}

TEST(QuoteArgument, EscapesExactlyWhatTheStandardSplittingNeeds) {
    EXPECT_EQ(quoteArgument(L""), L"\"\"");
    EXPECT_EQ(quoteArgument(L"a b"), L"\"a b\"");
    EXPECT_EQ(quoteArgument(L"C:\\Games\\"), L"\"C:\\Games\\\\\"");
    EXPECT_EQ(quoteArgument(L"a\\\"b"), L"\"a\\\\\\\"b\"");
    EXPECT_EQ(quoteArgument(L"a\\b"), L"\"a\\b\"");
    for (const wchar_t* text : {L"", L"plain", L"with space", L"tab\there", L"ends\\", L"ends\\\\",
                                L"\"quoted\"", L"\\\"", L"a\\\\\"b", L"曜石纪元 玩家", L"uid:42"})
        EXPECT_EQ(roundTrip(text), text) << testing::narrow(text);
}

TEST(QuoteArgument, AnyTextComesBackUnchanged) {
    std::mt19937 random(42);
    const std::wstring alphabet = L"ab \\\"\t中文'^&%!";
    for (int i = 0; i < 3000; ++i) {
        std::wstring text(std::uniform_int_distribution<int>(0, 12)(random), L' ');
        for (wchar_t& c : text)
            c = alphabet[std::uniform_int_distribution<std::size_t>(0, alphabet.size() - 1)(random)];
        ASSERT_EQ(roundTrip(text), text) << testing::narrow(text);
    }
}

class GameCommandLine : public ::testing::Test {
protected:
    LauncherConfig config{json::parse(loadResourceBytes(builtinConfigResourceId)), L"C:\\Games\\Launcher"};
    LoginResult login{L"42", L"tok en\"x", L"7", L"玩家"};

    void SetUp() override { config.document["gameExecutable"] = "C:\\Games\\Talvo Game\\talvo.exe"; }
};

TEST_F(GameCommandLine, HoldsTheExecutableExtraArgumentsAndTheLoginLast) {
    EXPECT_EQ(
        split(buildGameCommandLine(config, login)),
        (std::vector<std::wstring>{L"C:\\Games\\Talvo Game\\talvo.exe", L"uid:42", L"token:tok en\"x"}));
    config.document["gameArguments"] = {"-screen-fullscreen", "0", "xuid:1", "UID:1", "a\\\"b"};
    const auto items = split(buildGameCommandLine(config, login));
    EXPECT_EQ(items,
              (std::vector<std::wstring>{L"C:\\Games\\Talvo Game\\talvo.exe", L"-screen-fullscreen", L"0",
                                         L"xuid:1", L"UID:1", L"a\\\"b", L"uid:42", L"token:tok en\"x"}));
}

TEST_F(GameCommandLine, ExtraArgumentsMayNotPassForLoginItems) {
    for (const char* bad : {"uid:1", "token:", "username:me", "tab\there", "line\nbreak"}) {
        config.document["gameArguments"] = {bad};
        EXPECT_EQ(failureOf([&] { buildGameCommandLine(config, login); }), "额外启动参数不能保存登录凭证。")
            << bad;
    }
}

TEST_F(GameCommandLine, UnusableLoginResultsAreRefused) {
    for (const LoginResult& bad :
         {LoginResult{L"0", L"t", L"", L""}, LoginResult{L" ", L"t", L"", L""},
          LoginResult{std::wstring(129, L'u'), L"t", L"", L""}, LoginResult{L"u", L"", L"", L""},
          LoginResult{L"u", L"t\x7F", L"", L""}, LoginResult{L"u\n", L"t", L"", L""},
          LoginResult{L"u", std::wstring(8193, L't'), L"", L""}})
        EXPECT_EQ(failureOf([&] { buildGameCommandLine(config, bad); }), "游戏登录参数不完整。");
    EXPECT_NO_THROW(buildGameCommandLine(config, LoginResult{L" 0", std::wstring(8192, L't'), L"", L""}));
}

// The stand-in game laid out as a Unity client in a temporary folder.
class StandInGame : public ::testing::Test {
protected:
    TempDir dir;
    fs::path gameDir = dir / L"Talvo Game";
    fs::path executable = gameDir / L"talvo.exe";
    LauncherConfig config{json::parse(loadResourceBytes(builtinConfigResourceId)), dir / L"Launcher"};
    LoginResult login{L"10086", L"token with \"quotes\" and \\", L"7", L""};
    CancelToken token;
    std::atomic<std::uint32_t> processId{0};

    void SetUp() override {
        fs::create_directories(gameDir / L"talvo_Data");
        testing::writeBytes(gameDir / L"talvo_Data" / L"level0", "data");
        fs::copy_file(STANDIN_GAME_EXE, executable);
        fs::copy_file(STANDIN_UNITY_PLAYER_DLL, gameDir / L"UnityPlayer.dll");
        config.document["gameExecutable"] = testing::narrow(executable.native());
    }

    void TearDown() override {
        if (const DWORD id = processId.load()) {
            const UniqueKernelHandle game{::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id)};
            if (game) {
                ::TerminateProcess(game.get(), 0);
                ::WaitForSingleObject(game.get(), 5000);
            }
        }
    }

    void behave(const char* behaviour) { testing::writeBytes(gameDir / L"standin-game.txt", behaviour); }

    std::string launch(std::chrono::milliseconds limit = gameWindowWaitLimit) {
        return failureOf([&] { launchGameForTesting(config, login, token, &processId, limit); });
    }

    json record() { return json::parse(testing::readBytes(gameDir / L"standin-record.json")); }

    bool stillRunning() {
        const UniqueKernelHandle game{::OpenProcess(SYNCHRONIZE, FALSE, processId.load())};
        return game && ::WaitForSingleObject(game.get(), 0) == WAIT_TIMEOUT;
    }
};

TEST_F(StandInGame, WindowAfterADelayIsFoundAndTheGameGotExactlyItsArguments) {
    behave("window:1500");
    config.document["gameArguments"] = {"-popupwindow", "带 空格"};
    ASSERT_EQ(launch(), "<no error>");
    const json started = record();
    EXPECT_EQ(started["processId"], processId.load()) << "the process id is published";
    EXPECT_EQ(started["arguments"], json({testing::narrow(executable.native()), "-popupwindow", "带 空格",
                                          "uid:10086", "token:token with \"quotes\" and \\"}));
    EXPECT_EQ(started["workingDirectory"], testing::narrow(gameDir.native()));
    EXPECT_TRUE(stillRunning());
}

TEST_F(StandInGame, GameThatExitsAtOnceIsReported) {
    behave("exit");
    EXPECT_EQ(launch(), "游戏启动后立即退出，请检查客户端文件后重试。");
}

TEST_F(StandInGame, OwnedDialogOrInvisibleWindowIsNoGameWindow) {
    for (const char* behaviour : {"owned-dialog", "invisible"}) {
        behave(behaviour);
        EXPECT_EQ(launch(std::chrono::milliseconds(2500)),
                  "尚未检测到游戏窗口，启动器将保留，请检查游戏是否正常运行。")
            << behaviour;
        EXPECT_TRUE(stillRunning()) << "the launcher never ends the game";
        TearDown();
    }
}

TEST_F(StandInGame, CancelWhileWaitingLeavesTheGameRunning) {
    behave("invisible");
    std::thread canceller([&] {
        while (processId.load() == 0)
            ::Sleep(10);
        ::Sleep(300);
        cancel(token);
    });
    EXPECT_EQ(launch(), "操作已取消");
    canceller.join();
    EXPECT_TRUE(stillRunning());
}

TEST_F(StandInGame, NothingStartsWithoutACompleteClientOrAUsableLogin) {
    login.userId = L"0";
    EXPECT_EQ(launch(), "游戏登录参数不完整。");
    login.userId = L"10086";
    fs::remove(gameDir / L"UnityPlayer.dll");
    EXPECT_EQ(launch(), "未找到完整 Unity 客户端，请重新下载。");
    EXPECT_EQ(processId.load(), 0u);
    EXPECT_FALSE(fs::exists(gameDir / L"standin-record.json"));
}

} // namespace
} // namespace launcher
