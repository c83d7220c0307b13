// The real progress window on the screen: placement, border, and pixels
// read back from the display (gradient, bevels, gauge, pressed look).

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>

#include "platform/win32/ProgressWindowWin32.h"
#include "ui/Progress.h"

namespace qlr {
namespace {

struct Rgb {
    int r, g, b;
};

Rgb Split(TColor c) { return {int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)}; }

::testing::AssertionResult Near(Rgb actual, Rgb expected, int tolerance) {
    if (std::abs(actual.r - expected.r) <= tolerance && std::abs(actual.g - expected.g) <= tolerance &&
        std::abs(actual.b - expected.b) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got (" << actual.r << "," << actual.g << "," << actual.b
                                         << ") expected (" << expected.r << "," << expected.g << ","
                                         << expected.b << ") +-" << tolerance;
}

class ProgressWindowOnScreen : public ::testing::Test {
protected:
    void SetUp() override {
        form.AttachWindow(win32::CreateProgressWindow(nullptr, form));
        form.Show();
        window = ::FindWindowA(win32::kProgressFormClass, "Installing QLR");
        ASSERT_NE(window, nullptr);
        panel = ::FindWindowExA(window, nullptr, win32::kGradedPanelClass, nullptr);
        ASSERT_NE(panel, nullptr);
        Settle();
    }
    // Lets the display catch up with what was drawn.
    void Settle() {
        MSG msg;
        for (int i = 0; i < 10; ++i) {
            while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                ::TranslateMessage(&msg);
                ::DispatchMessageA(&msg);
            }
            ::Sleep(20);
        }
        ::GdiFlush();
    }
    // A pixel of the screen, at client coordinates of the window.
    Rgb Screen(int x, int y) {
        HDC screen = ::GetDC(nullptr);
        COLORREF c = ::GetPixel(screen, 771 + x, 268 + y);
        ::ReleaseDC(nullptr, screen);
        return Split(c);
    }
    // The diagonal gradient at (x, y): its line meets the left edge at y + x * 82 / 277.
    Rgb Gradient(int x, int y) {
        const double t = (y + x * 82.0 / 277.0) / 164.0;
        return {255, int(255 - 100 * t), int(179 - 24 * t)};
    }

    Tf_progress form;
    HWND window = nullptr;
    HWND panel = nullptr;
};

TEST_F(ProgressWindowOnScreen, PlacedAsDesignedWithoutBorder) {
    RECT outer, client;
    ASSERT_TRUE(::GetWindowRect(window, &outer));
    ASSERT_TRUE(::GetClientRect(window, &client));
    EXPECT_EQ(outer.left, 771);
    EXPECT_EQ(outer.top, 268);
    EXPECT_EQ(outer.right - outer.left, 277);
    EXPECT_EQ(outer.bottom - outer.top, 82);
    EXPECT_EQ(client.right, 277);
    EXPECT_EQ(client.bottom, 82);
    const LONG style = ::GetWindowLongA(window, GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_THICKFRAME | WS_BORDER | WS_SYSMENU), 0);
    EXPECT_TRUE(::IsWindowVisible(window));
    char title[64] = {};
    ::GetWindowTextA(window, title, sizeof title);
    EXPECT_STREQ(title, "Installing QLR");

    form.Close();
    EXPECT_FALSE(::IsWindowVisible(window));
    EXPECT_TRUE(::IsWindow(window));
}

TEST_F(ProgressWindowOnScreen, ShowsTheGradientAndMitredBevels) {
    const Rgb cyan{128, 255, 255}, blue{0, 128, 255};
    struct Probe {
        int x, y;
        Rgb colour;
    };
    const Probe bevels[] = {
        {2, 40, cyan},  {40, 2, cyan},  {274, 40, blue}, {40, 79, blue},
        {274, 1, cyan}, {274, 2, blue},  // top-right mitre
        {1, 79, cyan},  {2, 79, blue},   // bottom-left mitre
        {0, 0, cyan},   {276, 81, blue},
    };
    EXPECT_FALSE(form.GradedPanel1.Focused());  // no focus frame until clicked
    for (const auto& p : bevels) EXPECT_TRUE(Near(Screen(p.x, p.y), p.colour, 0)) << p.x << "," << p.y;
    // Just inside the bevels, near both corners, away from the texts and the bar.
    for (auto [x, y] : {std::pair{8, 7}, std::pair{268, 73}, std::pair{20, 60}, std::pair{265, 40}})
        EXPECT_TRUE(Near(Screen(x, y), Gradient(x, y), 3)) << x << "," << y;
}

TEST_F(ProgressWindowOnScreen, GaugeShowsFillAndWhiteRestAfterAChange) {
    form.Gauge1.SetProgress(40);
    form.Gauge1.Repaint();
    Settle();
    const int left = 32, top = 48;
    EXPECT_TRUE(Near(Screen(left + 4, top + 4), {128, 255, 255}, 0));
    EXPECT_TRUE(Near(Screen(left + 200, top + 4), {255, 255, 255}, 0));
    EXPECT_TRUE(Near(Screen(left, top + 12), {0, 0, 0}, 0));
    EXPECT_TRUE(Near(Screen(left + 224, top + 12), {0, 0, 0}, 0));
}

TEST_F(ProgressWindowOnScreen, ClickPressesTheFaceAndRaisesTheClick) {
    int clicks = 0;
    bool pressedDuringClick = false;
    form.GradedPanel1.OnClick = [&](TGradedPanel& p) {
        ++clicks;
        pressedDuringClick = p.Pressed();
    };
    ::SendMessageA(panel, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, 20));
    Settle();
    EXPECT_TRUE(form.GradedPanel1.Pressed());
    EXPECT_TRUE(form.GradedPanel1.Focused());
    EXPECT_TRUE(Near(Screen(2, 40), {0, 128, 255}, 0));  // bevels swapped
    EXPECT_TRUE(Near(Screen(6, 40), {128, 128, 128}, 0));  // focus frame inside the bevels
    ::SendMessageA(panel, WM_LBUTTONUP, 0, MAKELPARAM(100, 20));
    Settle();
    EXPECT_EQ(clicks, 1);
    EXPECT_TRUE(pressedDuringClick);
    EXPECT_FALSE(form.GradedPanel1.Pressed());
    EXPECT_TRUE(Near(Screen(2, 40), {128, 255, 255}, 0));

    ::SendMessageA(panel, WM_KEYUP, VK_RETURN, 0);
    EXPECT_EQ(clicks, 2);
}

}  // namespace
}  // namespace qlr
