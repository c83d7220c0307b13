// The progress window's model: its layout as designed, the gauge's range
// and redraw rule, and how a window peer is shown and hidden.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/Progress.h"
#include "ui/RecordingCanvas.h"

namespace qlr {
namespace {

// Counts what the gauge asks of its native bar.
struct BarPeer : NativeControl {
    std::vector<std::string>* texts;
    int* repaints;
    BarPeer(std::vector<std::string>* t, int* r) : texts(t), repaints(r) {}
    void SetText(const std::string& text) override { texts->push_back(text); }
    void SetBounds(const Bounds&) override {}
    void Repaint() override { ++*repaints; }
};

class GaugeTest : public ::testing::Test {
protected:
    GaugeTest() { gauge.AttachPeer(std::make_unique<BarPeer>(&shown, &repaints)); }
    TGauge gauge;
    std::vector<std::string> shown;
    int repaints = 0;
};

TEST_F(GaugeTest, ValuesAreHeldWithinRangeAndOnlyChangesReachThePeer) {
    const std::vector<std::pair<int, int>> cases = {{-5, 0}, {40, 40}, {40, 40}, {150, 100}, {100, 100}, {1, 1}};
    for (auto [set, held] : cases) {
        gauge.SetProgress(set);
        EXPECT_EQ(gauge.Progress(), held) << "set " << set;
    }
    EXPECT_EQ(shown, (std::vector<std::string>{"40%", "100%", "1%"}));
    gauge.Repaint();
    EXPECT_EQ(repaints, 1);
}

TEST_F(GaugeTest, TwoStepsOfHundredPercentStayAtHundred) {
    for (int step = 0; step < 2; ++step) gauge.SetProgress(gauge.Progress() + 100);
    EXPECT_EQ(gauge.Progress(), 100);
}

TEST_F(GaugeTest, PaintShowsBorderFillWhiteRestAndCentredPercentage) {
    struct Case {
        int value, filledRight;
    };
    // 223 inner pixels: the filled part ends at 1 + 223 * value / 100.
    for (const Case c : {Case{0, 1}, Case{57, 128}, Case{100, 224}}) {
        gauge.SetProgress(c.value);
        RecordingCanvas canvas;
        gauge.Paint(canvas);
        const std::vector<RecordingCanvas::Line> border = {{0, 0, 224, 0, clBlack},
                                                           {224, 0, 224, 24, clBlack},
                                                           {224, 24, 0, 24, clBlack},
                                                           {0, 24, 0, 0, clBlack}};
        EXPECT_EQ(canvas.Lines(), border);
        std::vector<RecordingCanvas::Record> fills;
        for (const auto& r : canvas.Records())
            if (r.op == RecordingCanvas::Op::FillRect) fills.push_back(r);
        ASSERT_EQ(fills.size(), 2u);
        EXPECT_EQ(fills[0].color, 0x00FFFF80u);
        EXPECT_EQ((std::vector<int>{fills[0].x, fills[0].y, fills[0].x2, fills[0].y2}),
                  (std::vector<int>{1, 1, c.filledRight, 24}));
        EXPECT_EQ(fills[1].color, clWhite);
        EXPECT_EQ((std::vector<int>{fills[1].x, fills[1].y, fills[1].x2, fills[1].y2}),
                  (std::vector<int>{c.filledRight, 1, 224, 24}));
        const std::string text = std::to_string(c.value) + "%";
        ASSERT_EQ(canvas.Texts().size(), 1u);
        EXPECT_EQ(canvas.Texts()[0].text, text);
        EXPECT_EQ(canvas.Texts()[0].x, (225 - 6 * static_cast<int>(text.size())) / 2);
        EXPECT_EQ(canvas.Texts()[0].y, (25 - 13) / 2);
        EXPECT_TRUE(canvas.Texts()[0].clearBrush);
        EXPECT_EQ(canvas.CurrentFont().Height, 13);
    }
}

struct WindowPeer : NativeProgressWindow {
    std::vector<std::string>* calls;
    explicit WindowPeer(std::vector<std::string>* c) : calls(c) {}
    void Show() override { calls->push_back("show"); }
    void Hide() override { calls->push_back("hide"); }
};

TEST(ProgressWindowModel, ShowIsNotModalAndCloseOnlyHides) {
    Tf_progress form;
    std::vector<std::string> calls;
    form.AttachWindow(std::make_unique<WindowPeer>(&calls));
    EXPECT_FALSE(form.Visible());
    form.Show();
    EXPECT_TRUE(form.Visible());
    form.Gauge1.SetProgress(30);
    form.Close();
    EXPECT_FALSE(form.Visible());
    EXPECT_EQ(form.Gauge1.Progress(), 30);
    EXPECT_EQ(calls, (std::vector<std::string>{"show", "hide"}));
}

}  // namespace
}  // namespace qlr
