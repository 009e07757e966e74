#include "foundation/text.h"

#include "foundation/error.h"

#include <windows.h>

#include <climits>

namespace launcher {
namespace {

[[noreturn]] void throwInvalidText() {
    throw Error("文本编码无效。");
}

int checkedLength(std::size_t size) {
    if (size > static_cast<std::size_t>(INT_MAX)) throwInvalidText();
    return static_cast<int>(size);
}

} // namespace

void utf16ToUtf8Into(std::wstring_view text, const std::function<char*(std::size_t size)>& sizedBuffer) {
    if (text.empty()) return;
    const int inLength = checkedLength(text.size());
    const int needed = ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), inLength, nullptr, 0,
                                             nullptr, nullptr);
    if (needed <= 0) throwInvalidText();
    if (::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), inLength,
                              sizedBuffer(static_cast<std::size_t>(needed)), needed, nullptr,
                              nullptr) != needed)
        throwInvalidText();
}

std::string utf16ToUtf8(std::wstring_view text) {
    std::string result;
    utf16ToUtf8Into(text, [&result](std::size_t size) {
        result.resize(size);
        return result.data();
    });
    return result;
}

std::wstring multiByteToUtf16(std::string_view bytes, unsigned codePage) {
    if (bytes.empty()) return {};
    const int inLength = checkedLength(bytes.size());
    const int needed =
        ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), inLength, nullptr, 0);
    if (needed <= 0) throwInvalidText();
    std::wstring result(static_cast<std::size_t>(needed), L'\0');
    if (::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), inLength, result.data(),
                              needed) != needed)
        throwInvalidText();
    return result;
}

std::wstring toLowerCase(std::wstring_view text) {
    std::wstring result(text);
    // CharLowerBuffW takes a DWORD count; no string the launcher handles comes near that.
    if (!result.empty()) ::CharLowerBuffW(result.data(), static_cast<DWORD>(result.size()));
    return result;
}

std::wstring trimWhitespace(std::wstring_view text) {
    constexpr std::wstring_view whitespace = L" \t\r\n";
    const auto first = text.find_first_not_of(whitespace);
    if (first == std::wstring_view::npos) return {};
    const auto last = text.find_last_not_of(whitespace);
    return std::wstring(text.substr(first, last - first + 1));
}

bool hasControlCharacter(std::wstring_view text) {
    for (const wchar_t c : text)
        if (c < 0x20 || c == 0x7F) return true;
    return false;
}

std::string percentEncode(std::wstring_view text) {
    static constexpr char digits[] = "0123456789ABCDEF";
    const std::string utf8 = utf16ToUtf8(text);
    std::string result;
    result.reserve(utf8.size() * 3);
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                                (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' ||
                                byte == '~';
        if (unreserved) {
            result.push_back(c);
        } else {
            result.push_back('%');
            result.push_back(digits[byte >> 4]);
            result.push_back(digits[byte & 0x0F]);
        }
    }
    return result;
}

} // namespace launcher
