// A DLL as an attacker would plant it beside the launcher, under the name of a system DLL the
// launcher uses (the test copies it as winhttp.dll). Once loaded into a process it leaves a marker
// file beside itself, named after itself: winhttp.dll.loaded.
#include "foundation/unique_handle.h"

#include <windows.h>

#include <string>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    std::wstring marker(MAX_PATH, L'\0');
    const DWORD length = ::GetModuleFileNameW(self, marker.data(), static_cast<DWORD>(marker.size()));
    if (length == 0 || length >= marker.size()) return TRUE;
    marker.resize(length);
    const launcher::UniqueFile file{
        ::CreateFileW((marker + L".loaded").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr)};
    return TRUE;
}
