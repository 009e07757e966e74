#include "foundation/secret_text.h"

#include "foundation/error.h"

#include <windows.h>

#include <climits>

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
    if (text.empty()) return result;
    if (text.size() > static_cast<std::size_t>(INT_MAX)) throw Error("文本编码无效。");
    const int length = static_cast<int>(text.size());
    const int needed = ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), length, nullptr, 0,
                                             nullptr, nullptr);
    if (needed <= 0) throw Error("文本编码无效。");
    result.get().resize(static_cast<std::size_t>(needed));
    if (::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), length, result.get().data(), needed,
                              nullptr, nullptr) != needed)
        throw Error("文本编码无效。");
    return result;
}

} // namespace launcher
