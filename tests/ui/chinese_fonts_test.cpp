// The window draws its Chinese texts with Microsoft YaHei UI and the controls' default font.
// Both must have glyphs for them, or the player sees boxes.
#include "foundation/unique_handle.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>

namespace launcher {
namespace {

int missingGlyphs(const wchar_t* face, const std::wstring& text) {
    UniqueMemoryDc dc{::CreateCompatibleDC(nullptr)};
    UniqueFont font{::CreateFontW(-16, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                  OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH,
                                  face)};
    if (!dc || !font) return -1;
    const HGDIOBJ previous = ::SelectObject(dc.get(), font.get());
    std::wstring glyphs(text.size(), L'\0');
    const DWORD result =
        ::GetGlyphIndicesW(dc.get(), text.c_str(), static_cast<int>(text.size()),
                           reinterpret_cast<WORD*>(glyphs.data()), GGI_MARK_NONEXISTING_GLYPHS);
    ::SelectObject(dc.get(), previous);
    if (result == GDI_ERROR) return -1;
    return static_cast<int>(std::count(glyphs.begin(), glyphs.end(), wchar_t(0xFFFF)));
}

TEST(ChineseFonts, WindowFontsHaveGlyphsForTheLauncherTexts) {
    const std::wstring text = L"曜石纪元启动器请输入账号和密码";
    for (const wchar_t* face : {L"Microsoft YaHei UI", L"微软雅黑", L"SimSun"})
        EXPECT_EQ(missingGlyphs(face, text), 0) << "font without Chinese glyphs";
}

} // namespace
} // namespace launcher
