#include "foundation/error.h"
#include "foundation/text.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace launcher {
namespace {

using testing::failureOf;

TEST(TextConversion, RoundTripsValidTextWithoutChangingAByte) {
    const std::string utf8 = "曜石纪元 · talvo 🎮";
    const std::wstring utf16 = multiByteToUtf16(utf8, codePageUtf8);
    EXPECT_EQ(utf16.substr(0, 4), L"曜石纪元");
    EXPECT_EQ(utf16ToUtf8(utf16), utf8);
    EXPECT_EQ(utf16ToUtf8(L""), "");
    EXPECT_EQ(multiByteToUtf16("", codePageUtf8), L"");
}

TEST(TextConversion, RefusesInvalidTextInsteadOfSubstituting) {
    EXPECT_EQ(failureOf([] { utf16ToUtf8(std::wstring(1, wchar_t(0xD800))); }), "文本编码无效。");
    EXPECT_EQ(failureOf([] { utf16ToUtf8(std::wstring(L"ab") + wchar_t(0xDC00)); }), "文本编码无效。");
    EXPECT_EQ(failureOf([] { multiByteToUtf16("\xC3", codePageUtf8); }), "文本编码无效。");
    EXPECT_EQ(failureOf([] { multiByteToUtf16("ok\x80", codePageUtf8); }), "文本编码无效。");
    EXPECT_EQ(failureOf([] { multiByteToUtf16("\xC0\xAF", codePageUtf8); }),
              "文本编码无效。"); // overlong "/"
}

TEST(TextConversion, DecodesGbkArchiveNames) {
    EXPECT_EQ(multiByteToUtf16("\xD6\xD0\xCE\xC4.txt", codePageGbk), L"中文.txt");
}

TEST(TextLowerCase, LowersAsciiAndKeepsLength) {
    EXPECT_EQ(toLowerCase(L"CON.Txt"), L"con.txt");
    EXPECT_EQ(toLowerCase(L"3813A66F"), L"3813a66f");
    const std::wstring mixed = L"ÄÖ 中文 Ω";
    EXPECT_EQ(toLowerCase(mixed).size(), mixed.size());
}

TEST(TextTrim, RemovesOnlySpaceTabCarriageReturnAndLineFeed) {
    EXPECT_EQ(trimWhitespace(L" \t abc \r\n"), L"abc");
    EXPECT_EQ(trimWhitespace(L"\r\n\t "), L"");
    EXPECT_EQ(trimWhitespace(L""), L"");
    EXPECT_EQ(trimWhitespace(L"\u3000abc"), L"\u3000abc");
    EXPECT_EQ(trimWhitespace(L"a b"), L"a b");
}

TEST(TextPercentEncode, EncodesEveryByteOutsideTheUnreservedSet) {
    EXPECT_EQ(percentEncode(L"a b/~中"), "a%20b%2F~%E4%B8%AD");
    EXPECT_EQ(percentEncode(L"AZaz09-._~"), "AZaz09-._~");
    EXPECT_EQ(percentEncode(L"+&=%"), "%2B%26%3D%25");
    EXPECT_EQ(failureOf([] { percentEncode(std::wstring(1, wchar_t(0xDBFF))); }), "文本编码无效。");
}

} // namespace
} // namespace launcher
