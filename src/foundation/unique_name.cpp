#include "foundation/unique_name.h"

#include "foundation/error.h"
#include "foundation/text.h"

#include <windows.h>
#include <objbase.h>

#include <algorithm>

namespace launcher {

std::string newUniqueHexName() {
    GUID guid{};
    if (FAILED(::CoCreateGuid(&guid))) throw Error("无法创建临时目录。");
    wchar_t text[40] = {};
    if (::StringFromGUID2(guid, text, 40) == 0) throw Error("无法创建临时目录。");
    std::string name = utf16ToUtf8(text);
    std::erase_if(name, [](char c) { return c == '{' || c == '}' || c == '-'; });
    return name;
}

} // namespace launcher
