// The launcher window's face in a real window under the test display: skin and shape, controls,
// painting and the password toggle.
#include "foundation/resources.h"
#include "foundation/unique_name.h"
#include "support/test_support.h"
#include "ui/form_controls.h"
#include "ui/launcher_flow.h"
#include "ui/window_painting.h"
#include "ui/window_skin.h"

#include "accessibility_reader.h"
#include "window_test_platform.h"

#include <gtest/gtest.h>

#include <commctrl.h>

namespace launcher {
namespace {

using nlohmann::json;

LRESULT CALLBACK faceProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* state = static_cast<LauncherWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        state->window = window;
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
    auto* state = reinterpret_cast<LauncherWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (state == nullptr) return ::DefWindowProcW(window, message, wParam, lParam);
    switch (message) {
    case WM_CREATE:
        try {
            applySkin(*state);
            createControls(*state);
            fillRememberedForm(*state);
            return 0;
        } catch (...) {
            return -1;
        }
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = ::BeginPaint(window, &paint);
        paintWindow(*state, dc);
        ::EndPaint(window, &paint);
        return 0;
    }
    case WM_ERASEBKGND:
        return 1;
    case WM_DRAWITEM:
        drawOwnerButton(*state, *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return 1;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        return reinterpret_cast<LRESULT>(
            controlColour(*state, message, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam)));
    default:
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

class WindowFace : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        platform_ = std::make_unique<testing::WindowPlatform>();
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = faceProcedure;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"GatehouseFaceTest";
        ::RegisterClassW(&windowClass);
    }
    static void TearDownTestSuite() { platform_.reset(); }

    void SetUp() override {
        LauncherConfig config{json::parse(loadResourceBytes(builtinConfigResourceId)),
                              L"C:\\Games\\Launcher"};
        // A login address of its own, so no remembered account of another test fills the form.
        config.document["loginProxyUrl"] = "https://face-test.example/" + newUniqueHexName();
        state_ = std::make_unique<LauncherWindow>(std::move(config));
        window_ =
            ::CreateWindowExW(WS_EX_APPWINDOW, L"GatehouseFaceTest", L"曜石纪元 · 启动器",
                              WS_POPUP | WS_CLIPCHILDREN | WS_MINIMIZEBOX, 0, 0, windowWidth, windowHeight,
                              nullptr, nullptr, ::GetModuleHandleW(nullptr), state_.get());
        ASSERT_NE(window_, nullptr);
        ::ShowWindow(window_, SW_SHOW);
        ::UpdateWindow(window_);
        state_->accessible.connect();
        pump();
    }

    void TearDown() override {
        if (window_) ::DestroyWindow(window_);
        state_.reset();
    }

    void pump() {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }

    std::wstring text(int id) {
        wchar_t buffer[128] = {};
        ::GetWindowTextW(::GetDlgItem(window_, id), buffer, 128);
        return buffer;
    }

    static std::unique_ptr<testing::WindowPlatform> platform_;
    std::unique_ptr<LauncherWindow> state_;
    HWND window_ = nullptr;
};
std::unique_ptr<testing::WindowPlatform> WindowFace::platform_;

TEST_F(WindowFace, FormHasEveryControlWithItsTextsAndLimits) {
    EXPECT_EQ(text(enterGameButtonId), L"进 入 游 戏");
    EXPECT_EQ(text(registerButtonId), L"注册账号 ↗");
    EXPECT_EQ(text(rememberCheckId), L"记住账号密码");
    EXPECT_EQ(text(statusLabelId), L"请输入账号和密码");
    EXPECT_EQ(text(showPasswordButtonId), L"显示密码");
    EXPECT_EQ(::SendMessageW(state_->accountEdit, EM_GETLIMITTEXT, 0, 0), 128);
    EXPECT_EQ(::SendMessageW(state_->passwordEdit, EM_GETLIMITTEXT, 0, 0), 256);
    EXPECT_FALSE(::IsWindowVisible(state_->cancelDownloadButton));
    EXPECT_FALSE(::IsWindowVisible(state_->progressBar));
    EXPECT_TRUE(::IsWindowVisible(state_->enterGameButton));
    EXPECT_EQ(::GetFocus(), state_->accountEdit) << "no remembered account: the account edit has focus";
    EXPECT_EQ(::SendMessageW(state_->rememberCheck, BM_GETCHECK, 0, 0), BST_UNCHECKED);
}

// What a screen reader reads of the window and each control, through the platform's accessibility
// proxies. Wine's proxies give every control the client role and its window text as name, and ask
// no annotation: there the names and states the launcher gives are checked on its side, and roles
// and the bar's value are not asserted.
TEST_F(WindowFace, EveryControlHasTheNameRoleAndStateAScreenReaderReads) {
    const struct {
        int id;
        const wchar_t* name;
        long role;
    } controls[] = {
        {accountEditId, L"账号", ROLE_SYSTEM_TEXT},
        {passwordEditId, L"密码", ROLE_SYSTEM_TEXT},
        {showPasswordButtonId, L"显示密码", ROLE_SYSTEM_PUSHBUTTON},
        {rememberCheckId, L"记住账号密码", ROLE_SYSTEM_CHECKBUTTON},
        {enterGameButtonId, L"进入游戏", ROLE_SYSTEM_PUSHBUTTON},
        {registerButtonId, L"注册账号", ROLE_SYSTEM_PUSHBUTTON},
        {minimiseButtonId, L"最小化", ROLE_SYSTEM_PUSHBUTTON},
        {closeButtonId, L"关闭", ROLE_SYSTEM_PUSHBUTTON},
        {cancelDownloadButtonId, L"取消下载", ROLE_SYSTEM_PUSHBUTTON},
        {statusLabelId, L"请输入账号和密码", ROLE_SYSTEM_STATICTEXT},
        {progressBarId, L"下载进度", ROLE_SYSTEM_PROGRESSBAR},
    };
    const bool wine = testing::runningUnderWine();
    if (wine)
        std::puts("Wine's accessibility proxies read no annotations and report no roles or values: the "
                  "names and states the launcher gives are checked on its side.");
    for (const auto& control : controls) {
        const HWND handle = ::GetDlgItem(window_, control.id);
        const testing::Read read = testing::readAccessible(handle, OBJID_CLIENT);
        const std::wstring given = state_->accessible.nameGivenForTesting(handle);
        EXPECT_EQ(wine && !given.empty() ? given : read.name, control.name) << control.id;
        if (!wine) {
            EXPECT_EQ(read.role, control.role) << control.id;
        }
    }
    EXPECT_EQ(testing::readAccessible(window_, OBJID_CLIENT).name.rfind(L"曜石纪元", 0), 0u)
        << "the window's title";

    // The eye says whether the password shows, and keeps its focus.
    const auto eyeState = [&] {
        return wine ? state_->accessible.stateGivenForTesting(state_->showPasswordButton)
                    : testing::readAccessible(state_->showPasswordButton, OBJID_CLIENT).state;
    };
    ::SetFocus(state_->showPasswordButton);
    EXPECT_EQ(eyeState() & (STATE_SYSTEM_PRESSED | STATE_SYSTEM_FOCUSED), STATE_SYSTEM_FOCUSED);
    setPasswordVisible(*state_, true, false);
    EXPECT_EQ(eyeState() & (STATE_SYSTEM_PRESSED | STATE_SYSTEM_FOCUSED),
              STATE_SYSTEM_PRESSED | STATE_SYSTEM_FOCUSED);
    setPasswordVisible(*state_, false, false);
    EXPECT_EQ(eyeState() & STATE_SYSTEM_PRESSED, 0);

    // The bar's value is its position, not a painted "0%".
    ::ShowWindow(state_->progressBar, SW_SHOW);
    ::SendMessageW(state_->progressBar, PBM_SETPOS, 42, 0);
    if (!wine) {
        EXPECT_EQ(testing::readAccessible(state_->progressBar, OBJID_CLIENT).value, L"42%");
    }
}

// Tab reaches every control in reading order, the cancel button while a download shows it.
TEST_F(WindowFace, TabReachesEveryControlInReadingOrder) {
    ::ShowWindow(state_->cancelDownloadButton, SW_SHOW);
    ::EnableWindow(state_->cancelDownloadButton, TRUE);
    std::vector<int> reached;
    HWND control = state_->accountEdit;
    for (int step = 0; step < 9; ++step) {
        reached.push_back(::GetDlgCtrlID(control));
        control = ::GetNextDlgTabItem(window_, control, FALSE);
    }
    EXPECT_EQ(reached, (std::vector<int>{accountEditId, passwordEditId, showPasswordButtonId, rememberCheckId,
                                         enterGameButtonId, registerButtonId, cancelDownloadButtonId,
                                         minimiseButtonId, closeButtonId}));
    EXPECT_EQ(::GetDlgCtrlID(control), accountEditId) << "and round again";
}

// The keyboard's place shows on every painted button, in the skin's light gold, and only there.
TEST_F(WindowFace, TheFocusedButtonShowsACueKeyboardUsersCanSee) {
    const UniqueMemoryDc dc{::CreateCompatibleDC(nullptr)};
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), 300, -40, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    const UniqueBitmap canvas{::CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0)};
    const HGDIOBJ previous = ::SelectObject(dc.get(), canvas.get());
    for (int id : {showPasswordButtonId, enterGameButtonId, registerButtonId, cancelDownloadButtonId,
                   minimiseButtonId, closeButtonId}) {
        RECT area{};
        ::GetClientRect(::GetDlgItem(window_, id), &area);
        for (const UINT focus : {0u, static_cast<UINT>(ODS_FOCUS)}) {
            const DRAWITEMSTRUCT item{ODT_BUTTON, static_cast<UINT>(id),     0,        ODA_DRAWENTIRE,
                                      focus,      ::GetDlgItem(window_, id), dc.get(), area,
                                      0};
            drawOwnerButton(*state_, item);
            ::GdiFlush();
            // The left side of the frame, half-way down: where the button's edge gives way to it.
            const int inset = id == showPasswordButtonId ? 2 : 3;
            const std::uint32_t bgra = static_cast<const std::uint32_t*>(bits)[area.bottom / 2 * 300 + inset];
            const COLORREF seen = RGB((bgra >> 16) & 0xFF, (bgra >> 8) & 0xFF, bgra & 0xFF);
            EXPECT_EQ(seen == focusCueColour, focus != 0) << "button " << id << (focus ? " focused" : "");
        }
    }
    ::SelectObject(dc.get(), previous);
}

TEST_F(WindowFace, WindowTakesTheSkinsShape) {
    const UniqueRegion region{::CreateRectRgn(0, 0, 0, 0)};
    ASSERT_NE(::GetWindowRgn(window_, region.get()), ERROR);
    EXPECT_FALSE(::PtInRegion(region.get(), 2, 2)) << "transparent corner";
    EXPECT_FALSE(::PtInRegion(region.get(), 100, 300)) << "left of the pillars";
    EXPECT_TRUE(::PtInRegion(region.get(), 600, 300)) << "the form";
    EXPECT_TRUE(::PtInRegion(region.get(), 896, 100)) << "the close button";
}

TEST_F(WindowFace, PaintingDrawsThePanelOverTheSkin) {
    const UniqueMemoryDc screen{::CreateCompatibleDC(nullptr)};
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), windowWidth, -windowHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    const UniqueBitmap canvas{::CreateDIBSection(screen.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0)};
    const HGDIOBJ previous = ::SelectObject(screen.get(), canvas.get());
    paintWindow(*state_, screen.get());
    const auto pixel = [&](int x, int y) {
        const std::uint32_t bgra = static_cast<const std::uint32_t*>(bits)[y * windowWidth + x];
        return RGB((bgra >> 16) & 0xFF, (bgra >> 8) & 0xFF, bgra & 0xFF);
    };
    EXPECT_EQ(pixel(632, 260), RGB(18, 19, 14)) << "form panel";
    EXPECT_EQ(pixel(600, 150), RGB(29, 30, 21)) << "header band";
    EXPECT_EQ(pixel(345, 300), RGB(14, 16, 12)) << "inside an input frame";
    EXPECT_NE(pixel(250, 300), RGB(18, 19, 14)) << "the skin shows beside the panel";

    // Kept for a person to look at.
    Gdiplus::Bitmap picture(windowWidth, windowHeight, windowWidth * 4, PixelFormat32bppRGB,
                            static_cast<BYTE*>(bits));
    CLSID png{0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};
    picture.Save(L"launcher-window-face.png", &png, nullptr);
    ::SelectObject(screen.get(), previous);
}

TEST_F(WindowFace, PasswordToggleKeepsTheSelection) {
    ::SetWindowTextW(state_->passwordEdit, L"secret");
    ::SendMessageW(state_->passwordEdit, EM_SETSEL, 2, 4);
    setPasswordVisible(*state_, true, true);
    DWORD start = 0, end = 0;
    ::SendMessageW(state_->passwordEdit, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                   reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 2u);
    EXPECT_EQ(end, 4u);
    EXPECT_EQ(::SendMessageW(state_->passwordEdit, EM_GETPASSWORDCHAR, 0, 0), 0);
    EXPECT_EQ(text(showPasswordButtonId), L"隐藏密码");
    EXPECT_EQ(::GetFocus(), state_->passwordEdit);
    setPasswordVisible(*state_, false, false);
    EXPECT_EQ(::SendMessageW(state_->passwordEdit, EM_GETPASSWORDCHAR, 0, 0), 0x25CF);
    EXPECT_EQ(text(showPasswordButtonId), L"显示密码");
}

} // namespace
} // namespace launcher
