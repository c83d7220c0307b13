#pragma once
// Tf_progress (unit Progress): the small borderless window the user sees
// during a run, a gradient panel holding a title, the word "Progress" and
// the percentage bar Gauge1. Its texts never change at run time.

#include <memory>
#include <string>

#include "platform/Platform.h"
#include "ui/Canvas.h"
#include "ui/GradedPanel.h"

namespace qlr {

// Percentage bar: range 0 to 100, redrawn only when the shown value changes.
class TGauge {
public:
    static constexpr int MinValue = 0, MaxValue = 100;
    static constexpr TColor ForeColor = 0x00FFFF80;
    static constexpr TColor BackColor = clWhite;
    Bounds Placement{32, 48, 225, 25};  // within the panel
    TFont Font{"MS Sans Serif", 13, 0, clWindowText, DEFAULT_CHARSET_ID};

    int Progress() const { return progress_; }
    // Clamped to 0..100; the peer hears of it only when the value changes.
    void SetProgress(int value);
    void Repaint();
    void AttachPeer(std::unique_ptr<NativeControl> peer) { peer_ = std::move(peer); }
    // The whole bar, at (0, 0) of canvas: single-line border, filled part,
    // white rest, "N%" centred.
    void Paint(Canvas& canvas) const;
    std::string Text() const { return std::to_string(progress_) + "%"; }

private:
    int progress_ = 0;
    std::unique_ptr<NativeControl> peer_;
};

// A text label standing on the panel.
struct TProgressLabel {
    Bounds Placement;  // within the panel
    std::string Caption;
    TFont Font;
    bool Centered = false;
    bool Transparent = true;
    bool AutoSize = false;     // the surface widens the label to its text
    TColor Color = clBtnFace;  // background, unseen when transparent
    void Paint(Canvas& canvas) const;
};

class Tf_progress {
public:
    // The model alone; a window is attached when the platform makes one.
    Tf_progress();
    // Asks the platform for the window, owned by owner.
    Tf_progress(Platform& platform, NativeWindow* owner);
    ~Tf_progress();
    Tf_progress(const Tf_progress&) = delete;
    Tf_progress& operator=(const Tf_progress&) = delete;

    // Placed as designed, not centred: the client area on the screen.
    static constexpr Bounds Placement{771, 268, 277, 82};
    const std::string Caption = "Installing QLR";
    const TColor Color = clBtnFace;
    const TFont Font{"MS Sans Serif", 11, 0, clWindowText, DEFAULT_CHARSET_ID};

    // Creation order: the panel, then its children.
    TGradedPanel GradedPanel1;
    TGauge Gauge1;
    TProgressLabel Label1;
    TProgressLabel Label2;

    void Show();   // not modal
    void Close();  // hides; the window stays
    bool Visible() const { return visible_; }
    void AttachWindow(std::unique_ptr<NativeProgressWindow> window) { window_ = std::move(window); }

private:
    bool visible_ = false;
    std::unique_ptr<NativeProgressWindow> window_;  // last: goes before the controls it paints
};

}  // namespace qlr
