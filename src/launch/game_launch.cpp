#include "launch/game_launch.h"

#include "config/game_executable_path.h"
#include "foundation/diagnostic_log.h"
#include "foundation/error.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"
#include "install/unity_layout.h"

#include <windows.h>

namespace launcher {
namespace {

using nlohmann::json;

constexpr DWORD pollIntervalMs = 100;
// An extra argument must never be taken by the game for a login item of its own.
bool looksLikeLoginItem(std::wstring_view argument) {
    return argument.starts_with(L"uid:") || argument.starts_with(L"token:") ||
           argument.starts_with(L"username:") || hasControlCharacter(argument);
}

struct WindowSearch {
    DWORD processId;
    bool found = false;
};

BOOL CALLBACK findGameWindow(HWND window, LPARAM context) {
    auto& search = *reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner == search.processId && ::IsWindowVisible(window) && ::GetWindow(window, GW_OWNER) == nullptr) {
        search.found = true;
        return FALSE;
    }
    return TRUE;
}

bool hasExited(HANDLE process) {
    return ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
}

// Starts the game and waits at most `windowWaitLimit` for its window.
void startAndWatch(const LauncherConfig& config, const LoginResult& result, CancelToken& token,
                   std::atomic<std::uint32_t>* processId, std::chrono::milliseconds windowWaitLimit) {
    throwIfCanceled(token);
    const std::filesystem::path executable = gameExecutablePath(config);
    if (!isUnityClientLayout(executable)) throw Error("未找到完整 Unity 客户端，请重新下载。");
    std::wstring commandLine = buildGameCommandLine(config, result);

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION created{};
    const std::wstring workingDirectory = executable.parent_path().native();
    if (!::CreateProcessW(executable.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                          CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT, nullptr,
                          workingDirectory.c_str(), &startup, &created)) {
        logEvent("game.start_failed", {{"executable", executable}, {"error", ::GetLastError()}});
        throw Error("无法启动游戏，请检查客户端文件或安全软件拦截。");
    }
    // The arguments carry the login token: only their number is written.
    logEvent("game.started", {{"executable", executable},
                              {"directory", workingDirectory},
                              {"arguments", config.document.at("gameArguments").size() + 2},
                              {"pid", created.dwProcessId}});
    // Owning the handles closes them on every way out; it never ends the game.
    const UniqueKernelHandle process{created.hProcess};
    const UniqueKernelHandle thread{created.hThread};
    if (processId != nullptr) processId->exchange(created.dwProcessId);

    const ULONGLONG start = ::GetTickCount64();
    while (::GetTickCount64() - start < static_cast<ULONGLONG>(windowWaitLimit.count())) {
        throwIfCanceled(token);
        if (hasExited(process.get())) {
            DWORD code = 0;
            ::GetExitCodeProcess(process.get(), &code);
            logEvent("game.exited", {{"code", code}, {"ms", ::GetTickCount64() - start}});
            throw Error("游戏启动后立即退出，请检查客户端文件后重试。");
        }
        WindowSearch search{created.dwProcessId};
        ::EnumWindows(findGameWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found) {
            logEvent("game.window_found", {{"ms", ::GetTickCount64() - start}});
            return;
        }
        ::Sleep(pollIntervalMs);
    }
    logEvent("game.window_timeout", {{"ms", ::GetTickCount64() - start}});
    throw Error("尚未检测到游戏窗口，启动器将保留，请检查游戏是否正常运行。");
}

} // namespace

std::wstring quoteArgument(std::wstring_view text) {
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : text) {
        if (c == L'\\') {
            ++backslashes;
        } else if (c == L'"') {
            quoted.append(2 * backslashes + 1, L'\\');
            quoted.push_back(c);
            backslashes = 0;
        } else {
            quoted.append(backslashes, L'\\');
            quoted.push_back(c);
            backslashes = 0;
        }
    }
    quoted.append(2 * backslashes, L'\\');
    quoted.push_back(L'"');
    return quoted;
}

std::wstring buildGameCommandLine(const LauncherConfig& config, const LoginResult& result) {
    if (!hasUsableIdentity(result)) throw Error("游戏登录参数不完整。");
    std::wstring commandLine = quoteArgument(gameExecutablePath(config).native());
    for (const json& entry : config.document.at("gameArguments")) {
        const std::wstring argument = multiByteToUtf16(entry.get<std::string>(), codePageUtf8);
        if (looksLikeLoginItem(argument)) throw Error("额外启动参数不能保存登录凭证。");
        commandLine += L' ' + quoteArgument(argument);
    }
    commandLine += L' ' + quoteArgument(L"uid:" + result.userId);
    commandLine += L' ' + quoteArgument(L"token:" + result.token);
    return commandLine;
}

void launchGame(const LauncherConfig& config, const LoginResult& result, CancelToken& token,
                std::atomic<std::uint32_t>* processId) {
    startAndWatch(config, result, token, processId, gameWindowWaitLimit);
}

void launchGameForTesting(const LauncherConfig& config, const LoginResult& result, CancelToken& token,
                          std::atomic<std::uint32_t>* processId, std::chrono::milliseconds windowWaitLimit) {
    startAndWatch(config, result, token, processId, windowWaitLimit);
}

} // namespace launcher
