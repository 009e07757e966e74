#include "foundation/secret_text.h"

#include "foundation/text.h"

#include <windows.h>

namespace launcher {

void wipeBytes(void* bytes, std::size_t count) noexcept {
    if (bytes != nullptr) ::SecureZeroMemory(bytes, count);
}

void wipeText(std::wstring& text) noexcept {
    wipeBytes(text.data(), text.capacity() * sizeof(wchar_t));
    text.clear();
}

SecretText secretUtf8(std::wstring_view text) {
    SecretText result;
    utf16ToUtf8Into(text, [&result](std::size_t size) {
        result.get().resize(size);
        return result.get().data();
    });
    return result;
}

} // namespace launcher
