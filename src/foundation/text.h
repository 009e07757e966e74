#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace launcher {

inline constexpr unsigned codePageUtf8 = 65001;
inline constexpr unsigned codePageGbk = 936;

// Strict conversions: invalid input throws Error("文本编码无效。"); nothing is ever replaced.
std::string utf16ToUtf8(std::wstring_view text);
// The same into storage the caller owns, for text that must not be copied: `sizedBuffer` is
// called once, for a non-empty text, and returns room for exactly `size` bytes.
void utf16ToUtf8Into(std::wstring_view text, const std::function<char*(std::size_t size)>& sizedBuffer);
std::wstring multiByteToUtf16(std::string_view bytes, unsigned codePage);

// Locale-independent lower-casing of every UTF-16 unit; the length never changes.
std::wstring toLowerCase(std::wstring_view text);

// Removes leading and trailing spaces, tabs, CRs and LFs, and no other white space.
std::wstring trimWhitespace(std::wstring_view text);

// Whether any unit is a control character (below 0x20, or 0x7F).
bool hasControlCharacter(std::wstring_view text);

// UTF-8 percent-encoding for query values: unreserved characters stay, every other byte is
// %XX in upper case (a space is %20, never "+").
std::string percentEncode(std::wstring_view text);

} // namespace launcher
