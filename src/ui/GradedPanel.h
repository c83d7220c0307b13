#pragma once
// TGradedPanel (unit Orbsys): a panel whose face is a colour gradient, top
// to bottom or corner to corner, with two-colour bevels, a centred caption
// with an optional shadow and accelerator, a pressed look, a focus frame
// and a click on Enter. It draws everything itself.

#include <cstdint>
#include <functional>
#include <string>

#include "ui/Canvas.h"

namespace qlr {

class TGradedPanel;

// The native window behind a panel, when there is one. Repaint draws the
// whole face before returning; TakeFocus moves the input focus to the panel
// (the platform reports the change through FocusGained / FocusLost).
class PanelPeer {
public:
    virtual ~PanelPeer() = default;
    virtual void Repaint() = 0;
    virtual void TakeFocus() = 0;
};

enum class MouseButton { Left, Right, Middle };

class TGradedPanel {
public:
    using NotifyEvent = std::function<void(TGradedPanel& sender)>;
    using MouseEvent = std::function<void(TGradedPanel& sender, MouseButton button, int x, int y)>;
    using KeyEvent = std::function<void(TGradedPanel& sender, int key, unsigned shift)>;
    static constexpr int VK_ENTER = 13;

    TGradedPanel() = default;
    virtual ~TGradedPanel() = default;
    TGradedPanel(const TGradedPanel&) = delete;
    TGradedPanel& operator=(const TGradedPanel&) = delete;

    // ---- inherited from the plain panel, with its initial values ----
    TColor Color = clBtnFace;
    std::string Caption;
    TFont Font;
    int BevelWidth = 1;
    bool Enabled = true;
    bool Visible = true;
    int Left = 0, Top = 0, Width = 185, Height = 41;
    // The control raises no standard events (mouse, click, key) of its own.
    bool NoStdEvents = false;
    NotifyEvent OnClick;
    MouseEvent OnMouseDown, OnMouseUp;

    // ---- own fields; a new panel has them all zero ----
    TColor BevelHighLight() const { return bevelHighLight_; }
    TColor BevelLowLight() const { return bevelLowLight_; }
    TColor Color2() const { return color2_; }
    bool Diagonal() const { return diagonal_; }
    std::int32_t ShadowShift() const { return shadowShift_; }
    TColor Color256() const { return color256_; }
    bool Pressed() const { return pressed_; }
    bool Focused() const { return focused_; }
    // Stored with the form; neither changes anything on the face.
    bool DefaultBtn = false;
    KeyEvent OnKeyUp;  // never raised

    // Each repaints at once when the value changes; ShadowShift always does.
    void SetBevelHighLight(TColor value);
    void SetBevelLowLight(TColor value);
    void SetColor2(TColor value);
    void SetDiagonal(bool value);
    void SetShadowShift(std::int32_t value);
    void SetColor256(TColor value);

    // Draws the whole face onto canvas.
    void Paint(Canvas& canvas) const;
    // Invalidate and paint before returning, when there is a surface.
    void Repaint();
    void AttachPeer(PanelPeer* peer) { peer_ = peer; }

    // ---- reactions to what the platform reports ----
    void MouseDown(MouseButton button, int x, int y);
    void MouseUp(MouseButton button, int x, int y);
    void Click();
    void FocusGained();
    void FocusLost();
    void KeyUp(int key, unsigned shift = 0);
    // A button released after a press on the panel: a left release inside
    // the panel clicks first, then the mouse-up reaction runs.
    void ButtonReleased(MouseButton button, int x, int y);

protected:
    // The plain control's own key-released handling; nothing to see by default.
    virtual void InheritedKeyUp(int key, unsigned shift) {
        (void)key;
        (void)shift;
    }

private:
    // The caption as drawn: with an "&", in three pieces around the underlined letter.
    struct CaptionParts {
        std::string shown, before, accelerator, after;
        bool split = false;
    };
    static CaptionParts SplitCaption(const std::string& text);
    static void PaintCaption(Canvas& canvas, int x, int y, const CaptionParts& caption);
    bool Active() const { return Visible && Enabled; }

    TColor bevelHighLight_ = 0;
    TColor bevelLowLight_ = 0;
    TColor color2_ = 0;
    bool diagonal_ = false;
    std::int32_t shadowShift_ = 0;
    bool pressed_ = false;
    TColor color256_ = 0;
    bool focused_ = false;
    bool clickArmed_ = false;
    PanelPeer* peer_ = nullptr;
};

// The colour of a gradient line at ratio num / den between two colours: each
// byte of start and end is used as red, green and blue, and the result is
// truncated. den 0 counts as ratio 0.
TColor GradientColor(TColor start, TColor end, std::int64_t num, std::int64_t den);

}  // namespace qlr
