#include "ui/window_painting.h"

#include "foundation/unique_handle.h"

namespace launcher {
namespace {

constexpr UINT formatLeft = DT_SINGLELINE | DT_VCENTER;
constexpr UINT formatCentred = DT_SINGLELINE | DT_VCENTER | DT_CENTER;
constexpr UINT formatWrappedCentred = DT_WORDBREAK | DT_CENTER;
constexpr UINT formatEllipsis = DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS;

// Selects a GDI object for the life of the scope.
class Selection {
public:
    Selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(::SelectObject(dc, object)) {}
    ~Selection() { ::SelectObject(dc_, previous_); }
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

void fill(HDC dc, int left, int top, int right, int bottom, COLORREF colour) {
    const UniqueBrush brush{::CreateSolidBrush(colour)};
    const RECT area{left, top, right, bottom};
    ::FillRect(dc, &area, brush.get());
}

void drawFixedText(HDC dc, const wchar_t* text, int x, int y, int width, int height, int size,
                   COLORREF colour, UINT format, int weight = FW_NORMAL, const wchar_t* face = uiFontFace) {
    const UniqueFont font = makeUiFont(size, weight, face);
    const Selection selected(dc, font.get());
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, colour);
    RECT area{x, y, x + width, y + height};
    ::DrawTextW(dc, text, -1, &area, format);
}

// The keyboard's place among the painted buttons: a frame in the skin's light gold, inside the
// button's edge. The system's dotted rectangle is inverted pixels, barely seen on the dark skin.
void drawFocusCue(HDC dc, RECT area, int inset) {
    ::InflateRect(&area, -inset, -inset);
    const UniqueBrush cue{::CreateSolidBrush(focusCueColour)};
    ::FrameRect(dc, &area, cue.get());
}

} // namespace

UniqueFont makeUiFont(int size, int weight, const wchar_t* face) {
    return UniqueFont{::CreateFontW(-size, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                    OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                                    DEFAULT_PITCH | FF_DONTCARE, face)};
}

void paintWindow(LauncherWindow& state, HDC target) {
    const UniqueMemoryDc dc{::CreateCompatibleDC(target)};
    const UniqueBitmap canvas{::CreateCompatibleBitmap(target, windowWidth, windowHeight)};
    const Selection selected(dc.get(), canvas.get());
    if (state.skin) {
        const UniqueMemoryDc skin{::CreateCompatibleDC(target)};
        const Selection picture(skin.get(), state.skin.get());
        ::BitBlt(dc.get(), 0, 0, windowWidth, windowHeight, skin.get(), 0, 0, SRCCOPY);
    } else {
        const RECT all{0, 0, windowWidth, windowHeight};
        ::FillRect(dc.get(), &all, state.backgroundBrush.get());
    }

    HDC d = dc.get();
    fill(d, 312, 139, 895, 546, RGB(18, 19, 14));
    fill(d, 312, 139, 895, 182, RGB(29, 30, 21));
    fill(d, 312, 181, 895, 182, RGB(58, 52, 37));
    drawFixedText(d, L"账号登录", 334, 145, 65, 32, 13, RGB(223, 192, 138), formatLeft);
    fill(d, 334, 180, 386, 182, RGB(178, 138, 67));
    drawFixedText(d, L"账号登录", 824, 152, 49, 16, 9, RGB(158, 138, 92), formatCentred);
    drawFixedText(d, L"登录游戏", 342, 206, 278, 28, 20, RGB(229, 213, 177), formatLeft);
    drawFixedText(d, L"重返热血世界，再续征战之路", 342, 238, 278, 17, 10, RGB(116, 116, 97), formatLeft);
    drawFixedText(d, L"账号", 342, 274, 278, 18, 11, RGB(173, 165, 139), formatLeft);
    drawFixedText(d, L"密码", 342, 346, 278, 18, 11, RGB(173, 165, 139), formatLeft);
    for (const int top : {298, 370}) {
        fill(d, 342, top, 620, top + 36, RGB(72, 64, 44));
        fill(d, 343, top + 1, 619, top + 35, RGB(14, 16, 12));
    }
    fill(d, 645, 199, 646, 494, RGB(52, 48, 36));
    drawFixedText(d, L"勇者集结 · 再战巅峰", 666, 198, 209, 18, 9, RGB(128, 116, 84), formatCentred);
    drawFixedText(d, L"曜 石 纪 元", 666, 217, 209, 35, 24, RGB(200, 163, 96), formatCentred, FW_BOLD,
                  L"SimSun");
    drawFixedText(d, L"热 血 不 息", 666, 257, 209, 29, 18, RGB(181, 161, 123), formatCentred, FW_NORMAL,
                  L"KaiTi");
    drawFixedText(d, L"征 途 不 止", 666, 287, 209, 29, 18, RGB(181, 161, 123), formatCentred, FW_NORMAL,
                  L"KaiTi");
    fill(d, 666, 330, 875, 331, RGB(59, 52, 35));
    drawFixedText(d, L"冒 险 即 刻 启 程", 666, 342, 209, 23, 11, RGB(182, 162, 115), formatCentred);
    drawFixedText(d, L"使用平台账号登录，首次运行将下载完整客户端。", 670, 370, 199, 38, 10,
                  RGB(116, 116, 97), formatWrappedCentred);
    drawFixedText(d, L"注册将在系统浏览器中打开。", 666, 411, 209, 23, 10, RGB(116, 116, 97), formatCentred);
    fill(d, 312, 511, 895, 512, RGB(48, 44, 32));
    drawFixedText(d, L"账号登录 · 注册前往平台官网", 334, 518, 280, 21, 9, RGB(110, 109, 88), formatLeft);
    fill(d, 323, 550, 885, 582, RGB(18, 19, 14));
    // Narrower while the cancel button shows, so the caption never runs under it.
    const SessionView& view = state.session.view();
    drawFixedText(d, view.caption.c_str(), 325, 550, view.downloadShown ? 480 : 558, 32, 11,
                  RGB(160, 154, 132), formatEllipsis);

    ::BitBlt(target, 0, 0, windowWidth, windowHeight, d, 0, 0, SRCCOPY);
}

void drawOwnerButton(const LauncherWindow& state, const DRAWITEMSTRUCT& item) {
    const bool pressed = item.itemState & ODS_SELECTED;
    const bool disabled = item.itemState & ODS_DISABLED;
    const bool focused = item.itemState & ODS_FOCUS;
    RECT area = item.rcItem;
    HDC dc = item.hDC;

    if (item.CtlID == showPasswordButtonId) {
        fill(dc, area.left, area.top, area.right, area.bottom, pressed ? RGB(27, 29, 21) : RGB(14, 16, 12));
        Gdiplus::Graphics graphics(dc);
        graphics.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
        const Gdiplus::Color colour =
            disabled ? Gdiplus::Color(255, 105, 100, 80) : Gdiplus::Color(255, 190, 172, 130);
        Gdiplus::Pen pen(colour, 1.5f);
        Gdiplus::GraphicsPath eye;
        eye.AddBezier(6, 14, 11, 6, 21, 6, 26, 14);
        eye.AddBezier(26, 14, 21, 22, 11, 22, 6, 14);
        graphics.DrawPath(&pen, &eye);
        graphics.DrawEllipse(&pen, 13, 11, 6, 6);
        if (state.passwordVisible) graphics.DrawLine(&pen, 7, 23, 25, 5); // struck through: a click hides it
        if (focused) drawFocusCue(dc, area, 2);
        return;
    }

    COLORREF fillColour = RGB(29, 30, 21);
    COLORREF textColour = RGB(143, 137, 116);
    UniqueFont ownFont;
    HFONT font = state.fonts.empty() ? nullptr : state.fonts.front().get();
    switch (item.CtlID) {
    case enterGameButtonId:
        fillColour = disabled ? RGB(61, 45, 24) : pressed ? RGB(112, 57, 24) : RGB(139, 74, 33);
        textColour = disabled ? RGB(158, 139, 100) : RGB(255, 229, 172);
        ownFont = makeUiFont(15);
        font = ownFont.get();
        break;
    case minimiseButtonId:
    case closeButtonId:
        fillColour = RGB(22, 25, 20);
        textColour = RGB(189, 222, 244);
        ownFont = makeUiFont(22);
        font = ownFont.get();
        break;
    case cancelDownloadButtonId:
        fillColour = RGB(18, 19, 14);
        textColour = RGB(245, 222, 179);
        break;
    default:
        break;
    }
    fill(dc, area.left, area.top, area.right, area.bottom, fillColour);
    if (item.CtlID == enterGameButtonId) {
        const UniqueBrush frame{::CreateSolidBrush(RGB(177, 141, 75))};
        ::FrameRect(dc, &area, frame.get());
    }
    wchar_t text[64] = {};
    ::GetWindowTextW(item.hwndItem, text, static_cast<int>(std::size(text)));
    {
        const Selection selected(dc, font);
        ::SetBkMode(dc, TRANSPARENT);
        ::SetTextColor(dc, textColour);
        RECT textArea = area;
        ::DrawTextW(dc, text, -1, &textArea, formatCentred);
    }
    if (focused) drawFocusCue(dc, area, 3);
}

HBRUSH controlColour(const LauncherWindow& state, UINT message, HDC dc, HWND control) {
    if (message == WM_CTLCOLOREDIT) {
        ::SetTextColor(dc, RGB(198, 188, 161));
        ::SetBkColor(dc, RGB(14, 16, 12));
        return state.editBrush.get();
    }
    const bool error = control == state.statusLabel && state.session.view().statusKind == StatusKind::error;
    ::SetTextColor(dc, error ? RGB(231, 160, 138) : RGB(173, 165, 139));
    ::SetBkColor(dc, RGB(18, 19, 14));
    return state.backgroundBrush.get();
}

} // namespace launcher
