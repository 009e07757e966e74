// Entry point of Gatehouse.exe. For now it loads and checks the configuration, so a broken
// document is reported before anything else happens; the window comes later.
#include "config/config_validation.h"
#include "config/launcher_config.h"
#include "foundation/error.h"
#include "foundation/text.h"

#include <windows.h>

#include <filesystem>
#include <string>

namespace {

constexpr const wchar_t* caption = L"曜石纪元 · 启动器";

std::filesystem::path executableDirectory() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) throw launcher::Error("无法确定启动器所在目录。");
        if (length < buffer.size()) {
            buffer.resize(length);
            return std::filesystem::path(buffer).parent_path();
        }
        buffer.resize(buffer.size() * 2);
    }
}

void showStartupError(const std::wstring& message, const wchar_t* boxCaption = caption) {
    ::MessageBoxW(nullptr, message.c_str(), boxCaption, MB_OK | MB_ICONERROR);
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    try {
        launcher::LauncherConfig config = launcher::loadLauncherConfig(executableDirectory());
        launcher::validateLauncherConfig(config);
        return 0;
    } catch (const launcher::Error& error) {
        showStartupError(launcher::multiByteToUtf16(error.what(), launcher::codePageUtf8));
    } catch (...) {
        showStartupError(L"无法读取启动器配置或创建界面，请重新安装后重试。", L"曜石纪元");
    }
    return 1;
}
