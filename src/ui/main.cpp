// Entry point of Gatehouse.exe. The launcher takes no command-line options; its version and update
// channel are its own resources (version information and the channel document), which the
// publisher's tool reads from the same file before it offers the build to players.
#include "config/build_identity.h"
#include "foundation/error.h"
#include "foundation/text.h"
#include "ui/launcher_app.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showState) {
    // First of all: the DLLs that are not known DLLs (WinHTTP, CNG, crypt32, the common controls,
    // themes, ...) are delay-loaded, and from here on come from System32 only, never from the
    // folder the launcher was started from. No static initializer of ours calls into them.
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    using namespace launcher;
    const BuildIdentity identity = runningBuildIdentity();
    LauncherBuild build;
    try {
        if (!identity.version || !identity.channel) throw Error("启动器资源不完整。");
        build = {*identity.version, multiByteToUtf16(identity.channel->manifestUrl, codePageUtf8),
                 identity.channel->publicKeys};
    } catch (const Error& error) {
        ::MessageBoxW(nullptr, multiByteToUtf16(error.what(), codePageUtf8).c_str(), L"曜石纪元",
                      MB_ICONERROR);
        return 1;
    }
    return runLauncher(instance, showState, build);
}
