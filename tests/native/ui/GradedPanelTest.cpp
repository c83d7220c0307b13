// The gradient panel painted onto the recording canvas (6 px per character,
// 13 px per text) and driven as the platform drives it.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "ui/GradedPanel.h"
#include "ui/RecordingCanvas.h"

namespace qlr {
namespace {

using Line = RecordingCanvas::Line;
using Text = RecordingCanvas::Text;

// Stands in for the native window: every repaint paints the whole face anew.
class RecordingPeer : public PanelPeer {
public:
    explicit RecordingPeer(TGradedPanel& panel) : panel_(panel) { panel.AttachPeer(this); }
    ~RecordingPeer() override { panel_.AttachPeer(nullptr); }
    void Repaint() override {
        ++repaints;
        canvas.Clear();
        panel_.Paint(canvas);
    }
    void TakeFocus() override {
        ++focusRequests;
        if (!panel_.Focused()) panel_.FocusGained();
    }
    RecordingCanvas canvas;
    int repaints = 0;
    int focusRequests = 0;

private:
    TGradedPanel& panel_;
};

// Pale yellow to pale red, as the progress window uses it.
constexpr TColor kYellow = 0x00B3FFFF;  // r 255, g 255, b 179
constexpr TColor kRed = 0x009B9BFF;     // r 255, g 155, b 155
constexpr TColor kCyan = 0x00FFFF80;
constexpr TColor kBlue = 0x00FF8000;

// The colour at ratio t, computed independently in floating point; a tiny
// allowance keeps exact whole values whole.
TColor Expected(TColor start, TColor end, double t) {
    auto c = [&](int shift) {
        double from = (start >> shift) & 0xFF, to = (end >> shift) & 0xFF;
        return static_cast<int>(std::floor(from + (to - from) * t + 1e-9));
    };
    return RGBColor(c(0), c(8), c(16));
}

class GradedPanelTest : public ::testing::Test {
protected:
    GradedPanelTest() {
        panel.Width = 277;
        panel.Height = 82;
        panel.BevelWidth = 5;
        panel.Color = kYellow;
        panel.SetColor2(kRed);
        panel.SetBevelHighLight(kCyan);
        panel.SetBevelLowLight(kBlue);
        panel.Font.Color = 0x00123456;
    }
    RecordingCanvas& Paint() {
        canvas.Clear();
        panel.Paint(canvas);
        return canvas;
    }
    std::vector<Line> Slice(std::size_t from, std::size_t count) {
        const auto& lines = canvas.Lines();
        EXPECT_GE(lines.size(), from + count);
        if (lines.size() < from + count) return {};
        return {lines.begin() + from, lines.begin() + from + count};
    }
    std::vector<Text> VisibleTexts() {
        std::vector<Text> out;
        for (const auto& t : canvas.Texts())
            if (!t.text.empty()) out.push_back(t);
        return out;
    }

    TGradedPanel panel;
    RecordingCanvas canvas;
};

// ---- gradient --------------------------------------------------------------

TEST_F(GradedPanelTest, TopToBottomDrawsOneLinePerRowFromStartToEndColour) {
    Paint();
    auto lines = Slice(0, 83);
    ASSERT_EQ(lines.size(), 83u);
    for (int i = 0; i <= 82; ++i) {
        EXPECT_EQ(lines[i], (Line{0, i, 277, i, Expected(kYellow, kRed, i / 82.0)})) << "line " << i;
    }
    EXPECT_EQ(lines[0].color, kYellow);
    EXPECT_EQ(lines[1].color, RGBColor(255, 253, 178));  // 255 - 100/82, 179 - 24/82, truncated
    EXPECT_EQ(lines[41].color, RGBColor(255, 205, 167));
    EXPECT_EQ(lines[82].color, kRed);
    // Then come the bevels, not more gradient.
    EXPECT_EQ(canvas.Lines()[83].color, kCyan);
}

TEST_F(GradedPanelTest, DiagonalDrawsTwoBandsColouredByLeftEdgeHeight) {
    panel.SetDiagonal(true);
    Paint();
    auto lines = Slice(0, 166);
    ASSERT_EQ(lines.size(), 166u);
    for (int i = 0; i <= 82; ++i) {
        EXPECT_EQ(lines[i], (Line{0, i, 277, i - 82, Expected(kYellow, kRed, i / 164.0)})) << "upper " << i;
        EXPECT_EQ(lines[83 + i], (Line{277, i, 0, 82 + i, Expected(kYellow, kRed, (82 + i) / 164.0)})) << "lower " << i;
    }
    // The line meeting the left edge at 82 is drawn twice, in the middle colour.
    EXPECT_EQ(lines[82].color, RGBColor(255, 205, 167));
    EXPECT_EQ(lines[83].color, lines[82].color);
    EXPECT_EQ(lines[0].color, kYellow);
    EXPECT_EQ(lines[165].color, kRed);
    EXPECT_EQ(lines[165].y2, 164);
}

TEST_F(GradedPanelTest, EqualColoursGiveAUniformFace) {
    panel.SetColor2(kYellow);
    for (bool diagonal : {false, true}) {
        panel.SetDiagonal(diagonal);
        Paint();
        const std::size_t count = diagonal ? 166 : 83;
        for (const auto& line : Slice(0, count)) EXPECT_EQ(line.color, kYellow);
    }
}

TEST_F(GradedPanelTest, SystemColourInTheGradientUsesItsLowBytesButGoesToThePenAsItIs) {
    panel.Color = clBtnFace;  // $8000000F
    panel.SetColor2(clBtnFace);
    panel.SetBevelHighLight(clBtnFace);
    Paint();
    EXPECT_EQ(canvas.Lines()[0].color, 0x0000000Fu);  // red 15, green 0, blue 0
    EXPECT_EQ(canvas.Lines()[82].color, 0x0000000Fu);
    EXPECT_EQ(canvas.Lines()[83].color, clBtnFace);  // resolved by the surface, not here
}

TEST_F(GradedPanelTest, HeightZeroPaintsOneLineOfTheStartColour) {
    panel.Height = 0;
    panel.SetDiagonal(true);
    Paint();
    EXPECT_EQ(canvas.Lines()[0], (Line{0, 0, 277, 0, kYellow}));
    EXPECT_EQ(canvas.Lines()[1], (Line{277, 0, 0, 0, kYellow}));
}

// ---- bevels ----------------------------------------------------------------

TEST_F(GradedPanelTest, BevelsAreLightTopLeftAndDarkBottomRightWithMitredCorners) {
    Paint();
    auto bevels = Slice(83, 20);
    ASSERT_EQ(bevels.size(), 20u);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(bevels[2 * i], (Line{0, i, 277, i, kCyan}));
        EXPECT_EQ(bevels[2 * i + 1], (Line{i, 0, i, 82, kCyan}));
        EXPECT_EQ(bevels[10 + 2 * i], (Line{i, 81 - i, 277, 81 - i, kBlue}));
        EXPECT_EQ(bevels[10 + 2 * i + 1], (Line{276 - i, i, 276 - i, 82, kBlue}));
    }
    EXPECT_EQ(canvas.Lines().size(), 103u);  // nothing else without focus
}

TEST_F(GradedPanelTest, PressedSwapsBevelsAndMovesTheCaptionByOne) {
    panel.Caption = "Go";
    Paint();
    const Text released = VisibleTexts().at(0);
    panel.MouseDown(MouseButton::Left, 10, 10);
    Paint();
    auto bevels = Slice(83, 20);
    EXPECT_EQ(bevels[0].color, kBlue);
    EXPECT_EQ(bevels[10].color, kCyan);
    const Text pressed = VisibleTexts().at(0);
    EXPECT_EQ(pressed.x, released.x + 1);
    EXPECT_EQ(pressed.y, released.y + 1);
}

TEST_F(GradedPanelTest, DisabledPanelIsGreyAndEngraved) {
    panel.Enabled = false;
    panel.Caption = "Go";
    panel.SetShadowShift(4);  // ignored when disabled
    Paint();
    EXPECT_EQ(canvas.Lines()[0].color, 0xE9E9E9u);
    EXPECT_EQ(canvas.Lines()[82].color, 0x808080u);
    EXPECT_EQ(canvas.Lines()[83].color, 0xE9E9E9u);
    EXPECT_EQ(canvas.Lines()[93].color, 0x808080u);
    auto texts = VisibleTexts();
    ASSERT_EQ(texts.size(), 2u);
    const int x = (277 - 12) / 2, y = (82 - 13) / 2;
    EXPECT_EQ(texts[0].color, clWhite);
    EXPECT_EQ(texts[0].x, x + 1);
    EXPECT_EQ(texts[0].y, y + 1);
    EXPECT_EQ(texts[1].color, clGray);
    EXPECT_EQ(texts[1].x, x);
    EXPECT_EQ(texts[1].y, y);
}

// ---- caption ---------------------------------------------------------------

TEST_F(GradedPanelTest, AcceleratorCaptionIsCentredAsShownAndDrawnInThreePieces) {
    panel.Caption = "&Save";
    Paint();
    const int x = (277 - 4 * 6) / 2, y = (82 - 13) / 2;
    const std::vector<Text> expected = {
        {x, y, "", 0x00123456, false, "MS Sans Serif", true},
        {x, y, "S", 0x00123456, true, "MS Sans Serif", true},
        {x + 6, y, "ave", 0x00123456, false, "MS Sans Serif", true},
    };
    EXPECT_EQ(canvas.Texts(), expected);
}

TEST_F(GradedPanelTest, OnlyTheFirstAmpersandCounts) {
    struct Case {
        std::string caption, before, accelerator, after;
    };
    const std::vector<Case> cases = {
        {"A&&B", "A", "&", "B"},
        {"Save&", "Save", "", ""},
        {"a&b&c", "a", "b", "&c"},
        {"&" + std::string(120, 'x'), "", "x", std::string(99, 'x')},
    };
    for (const auto& c : cases) {
        panel.Caption = c.caption;
        Paint();
        ASSERT_EQ(canvas.Texts().size(), 3u) << c.caption;
        EXPECT_EQ(canvas.Texts()[0].text, c.before) << c.caption;
        EXPECT_EQ(canvas.Texts()[1].text, c.accelerator) << c.caption;
        EXPECT_TRUE(canvas.Texts()[1].underline) << c.caption;
        EXPECT_EQ(canvas.Texts()[2].text, c.after) << c.caption;
        EXPECT_FALSE(canvas.Texts()[2].underline) << c.caption;
        const int width = 6 * static_cast<int>((c.before + c.accelerator + c.after).size());
        EXPECT_EQ(canvas.Texts()[0].x, (277 - width) / 2) << c.caption;
    }
}

TEST_F(GradedPanelTest, EmptyCaptionDrawsNoTextButEverythingElse) {
    panel.Caption.clear();
    panel.FocusGained();
    Paint();
    EXPECT_TRUE(VisibleTexts().empty());
    EXPECT_EQ(canvas.Lines().size(), 83u + 20u + 10u);
}

TEST_F(GradedPanelTest, ShadowIsDrawnOnlyForAPositiveShift) {
    panel.Caption = "Hi";
    const int x = (277 - 12) / 2, y = (82 - 13) / 2;
    struct Case {
        int shift;
        std::vector<Text> texts;
    };
    const std::vector<Case> cases = {
        {2,
         {{x + 2, y + 2, "Hi", clBlack, false, "MS Sans Serif", true},
          {x, y, "Hi", 0x00123456, false, "MS Sans Serif", true}}},
        {0, {{x, y, "Hi", 0x00123456, false, "MS Sans Serif", true}}},
        {-3, {{x, y, "Hi", 0x00123456, false, "MS Sans Serif", true}}},
    };
    for (const auto& c : cases) {
        panel.SetShadowShift(c.shift);
        Paint();
        EXPECT_EQ(canvas.Texts(), c.texts) << "shift " << c.shift;
    }
}

// ---- focus frame -----------------------------------------------------------

TEST_F(GradedPanelTest, FocusFrameIsDrawnLastInGrey) {
    panel.FocusGained();
    Paint();
    auto frame = Slice(103, 10);
    const std::vector<Line> expected = {
        {0, 0, 276, 0, clGray},    {276, 0, 276, 81, clGray}, {276, 81, 0, 81, clGray}, {0, 81, 0, 0, clGray},
        {275, 1, 275, 80, clGray}, {275, 80, 1, 80, clGray},  {6, 6, 270, 6, clGray},   {270, 6, 270, 75, clGray},
        {270, 75, 6, 75, clGray},  {6, 75, 6, 6, clGray},
    };
    EXPECT_EQ(frame, expected);
    EXPECT_EQ(canvas.Lines().size(), 113u);
    panel.FocusLost();
    Paint();
    EXPECT_EQ(canvas.Lines().size(), 103u);
}

// ---- setters ---------------------------------------------------------------

TEST_F(GradedPanelTest, SettersRepaintOnlyOnChangeExceptShadowShift) {
    RecordingPeer peer(panel);
    struct Case {
        const char* name;
        std::function<void(TColor)> set;
        TColor current;
    };
    const std::vector<Case> cases = {
        {"BevelHighLight", [&](TColor v) { panel.SetBevelHighLight(v); }, kCyan},
        {"BevelLowLight", [&](TColor v) { panel.SetBevelLowLight(v); }, kBlue},
        {"Color2", [&](TColor v) { panel.SetColor2(v); }, kRed},
        {"Color256", [&](TColor v) { panel.SetColor256(v); }, 0},
        {"Diagonal", [&](TColor v) { panel.SetDiagonal(v != 0); }, 0},
    };
    for (const auto& c : cases) {
        peer.repaints = 0;
        c.set(c.current);
        EXPECT_EQ(peer.repaints, 0) << c.name << " set to its value";
        c.set(c.current ^ 1);
        EXPECT_EQ(peer.repaints, 1) << c.name << " changed";
    }
    peer.repaints = 0;
    panel.SetShadowShift(panel.ShadowShift());
    EXPECT_EQ(peer.repaints, 1);
    panel.SetShadowShift(3);
    EXPECT_EQ(peer.repaints, 2);
    panel.DefaultBtn = true;
    EXPECT_EQ(peer.repaints, 2);
}

// ---- mouse, click, focus and keys ------------------------------------------

class GradedPanelEvents : public GradedPanelTest {
protected:
    GradedPanelEvents() : peer(panel) {
        panel.OnClick = [this](TGradedPanel& p) { events.push_back(p.Pressed() ? "click pressed" : "click"); };
        panel.OnMouseDown = [this](TGradedPanel&, MouseButton, int, int) { events.push_back("down"); };
        panel.OnMouseUp = [this](TGradedPanel&, MouseButton, int, int) { events.push_back("up"); };
    }
    RecordingPeer peer;
    std::vector<std::string> events;
};

TEST_F(GradedPanelEvents, LeftClickFocusesPressesAndClicksBeforeRelease) {
    panel.MouseDown(MouseButton::Left, 5, 5);
    EXPECT_TRUE(panel.Pressed());
    EXPECT_TRUE(panel.Focused());
    EXPECT_EQ(peer.focusRequests, 1);
    panel.ButtonReleased(MouseButton::Left, 5, 5);
    EXPECT_FALSE(panel.Pressed());
    EXPECT_EQ(events, (std::vector<std::string>{"down", "click pressed", "up"}));
    // The focus frame stays after the click.
    EXPECT_EQ(peer.canvas.Lines().size(), 113u);
}

TEST_F(GradedPanelEvents, ReleaseOutsideOrWithOtherButtonsDoesNotClick) {
    panel.MouseDown(MouseButton::Left, 5, 5);
    panel.ButtonReleased(MouseButton::Left, 300, 5);
    panel.MouseDown(MouseButton::Right, 5, 5);
    EXPECT_TRUE(panel.Pressed());
    panel.ButtonReleased(MouseButton::Right, 5, 5);
    EXPECT_EQ(events, (std::vector<std::string>{"down", "up", "down", "up"}));
}

TEST_F(GradedPanelEvents, EnterRaisesTheClickOnceOnReleaseWithoutRepaint) {
    panel.FocusGained();
    peer.repaints = 0;
    panel.KeyUp(13);
    EXPECT_EQ(events, std::vector<std::string>{"click"});
    EXPECT_EQ(peer.repaints, 0);
    EXPECT_FALSE(panel.Pressed());
    panel.KeyUp(32);
    panel.KeyUp(0);
    EXPECT_EQ(events.size(), 1u);
}

TEST_F(GradedPanelEvents, InvisibleOrDisabledPanelIgnoresMouseClickAndEnter) {
    for (int which = 0; which < 2; ++which) {
        panel.Visible = which != 0;
        panel.Enabled = which == 0 ? true : false;
        peer.repaints = 0;
        panel.MouseDown(MouseButton::Left, 5, 5);
        EXPECT_FALSE(panel.Pressed());
        EXPECT_FALSE(panel.Focused());
        panel.ButtonReleased(MouseButton::Left, 5, 5);
        panel.Click();
        panel.KeyUp(13);
        EXPECT_TRUE(events.empty());
        EXPECT_EQ(peer.repaints, 0);
        // Focus changes still repaint, to draw or remove the frame.
        panel.FocusGained();
        EXPECT_EQ(peer.canvas.Lines().size(), 113u);
        panel.FocusLost();
        EXPECT_EQ(peer.repaints, 2);
    }
}

// The plain control's key handling is skipped only for key code 0, and
// nothing of the panel's own runs when it raises no standard events.
class KeyWatchingPanel : public TGradedPanel {
public:
    std::vector<int> inherited;

protected:
    void InheritedKeyUp(int key, unsigned) override { inherited.push_back(key); }
};

TEST(GradedPanelKeys, InheritedHandlingAndStandardEvents) {
    KeyWatchingPanel panel;
    int clicks = 0;
    panel.OnClick = [&](TGradedPanel&) { ++clicks; };
    panel.KeyUp(13);
    panel.KeyUp(0);
    panel.KeyUp(65);
    EXPECT_EQ(panel.inherited, (std::vector<int>{13, 65}));
    EXPECT_EQ(clicks, 1);
    panel.NoStdEvents = true;
    panel.KeyUp(13);
    panel.KeyUp(0);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(panel.inherited, (std::vector<int>{13, 65, 13, 0}));
}

}  // namespace
}  // namespace qlr
