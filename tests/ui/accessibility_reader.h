#pragma once

// What an accessibility client (a screen reader) reads of a window and its controls, through the
// platform's proxies, for the tests of the launcher window.
#include "foundation/unique_handle.h"

#include <windows.h>
#include <oleacc.h>

#include <string>

namespace launcher::testing {

// IAccessible's interface id, spelt out: the libraries of oleacc and uuid both define it, so test
// programs find oleacc at run time rather than link it.
constexpr IID accessibleInterface = {
    0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

// What an accessibility client reads of a window through the platform's proxies.
struct Read {
    std::wstring name;
    long role = 0;
    long state = 0;
    std::wstring value;
};

inline Read readAccessible(HWND window, long object) {
    static const auto fromWindow =
        reinterpret_cast<decltype(&::AccessibleObjectFromWindow)>(reinterpret_cast<void*>(
            ::GetProcAddress(::LoadLibraryW(L"oleacc.dll"), "AccessibleObjectFromWindow")));
    IAccessible* accessible = nullptr;
    if (fromWindow == nullptr || FAILED(fromWindow(window, static_cast<DWORD>(object), accessibleInterface,
                                                   reinterpret_cast<void**>(&accessible))))
        return {};
    const UniqueComReference<IAccessible> owner(accessible);
    VARIANT self{};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    const auto text = [](BSTR string) {
        const UniqueBstr owned{string};
        return std::wstring(string ? string : L"");
    };
    Read read;
    BSTR string = nullptr;
    accessible->get_accName(self, &string);
    read.name = text(string);
    string = nullptr;
    accessible->get_accValue(self, &string);
    read.value = text(string);
    VARIANT answer{};
    if (SUCCEEDED(accessible->get_accRole(self, &answer)) && answer.vt == VT_I4) read.role = answer.lVal;
    answer = VARIANT{};
    if (SUCCEEDED(accessible->get_accState(self, &answer)) && answer.vt == VT_I4) read.state = answer.lVal;
    return read;
}

} // namespace launcher::testing
