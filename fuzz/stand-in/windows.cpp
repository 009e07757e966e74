#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void unavailable(const char* function) {
    std::fprintf(stderr, "%s is not available in the native fuzz build\n", function);
    std::abort();
}

} // namespace

int WideCharToMultiByte(unsigned, DWORD, const wchar_t*, int, char*, int, const char*, int*) {
    unavailable("WideCharToMultiByte");
}

int MultiByteToWideChar(unsigned, DWORD, const char*, int, wchar_t*, int) {
    unavailable("MultiByteToWideChar");
}

// ASCII only: the targets look for memory faults, and case mapping never changes a length.
DWORD CharLowerBuffW(wchar_t* text, DWORD length) {
    for (DWORD i = 0; i < length; ++i)
        if (text[i] >= L'A' && text[i] <= L'Z') text[i] = static_cast<wchar_t>(text[i] - L'A' + L'a');
    return length;
}
