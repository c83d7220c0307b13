#include "ui/GradedPanel.h"

namespace qlr {

namespace {
constexpr TColor kDisabledLight = 0xE9E9E9;
constexpr TColor kDisabledDark = 0x808080;

int Channel(TColor color, int shift) { return static_cast<int>((color >> shift) & 0xFF); }
}  // namespace

// Whole numbers rather than floating point: a ratio that lands exactly on a
// whole component value must not come out one below it.
TColor GradientColor(TColor start, TColor end, std::int64_t num, std::int64_t den) {
    if (den == 0) num = 0, den = 1;
    auto mix = [&](int shift) {
        std::int64_t from = Channel(start, shift), to = Channel(end, shift);
        std::int64_t scaled = from * den + (to - from) * num;  // never negative for 0 <= num <= den
        return static_cast<int>(scaled / den);
    };
    return RGBColor(mix(0), mix(8), mix(16));
}

TGradedPanel::CaptionParts TGradedPanel::SplitCaption(const std::string& text) {
    CaptionParts parts;
    parts.shown = text;
    const auto amp = text.find('&');
    if (amp == std::string::npos) return parts;
    parts.split = true;
    parts.before = text.substr(0, amp);
    if (amp + 1 < text.size()) parts.accelerator = text.substr(amp + 1, 1);
    if (amp + 2 < text.size()) parts.after = text.substr(amp + 2, 99);
    parts.shown = parts.before + parts.accelerator + parts.after;
    return parts;
}

void TGradedPanel::SetBevelHighLight(TColor value) {
    if (value == bevelHighLight_) return;
    bevelHighLight_ = value;
    Repaint();
}

void TGradedPanel::SetBevelLowLight(TColor value) {
    if (value == bevelLowLight_) return;
    bevelLowLight_ = value;
    Repaint();
}

void TGradedPanel::SetColor2(TColor value) {
    if (value == color2_) return;
    color2_ = value;
    Repaint();
}

void TGradedPanel::SetDiagonal(bool value) {
    if (value == diagonal_) return;
    diagonal_ = value;
    Repaint();
}

void TGradedPanel::SetShadowShift(std::int32_t value) {
    shadowShift_ = value;
    Repaint();
}

void TGradedPanel::SetColor256(TColor value) {
    if (value == color256_) return;
    color256_ = value;
    Repaint();
}

void TGradedPanel::Repaint() {
    if (peer_) peer_->Repaint();
}

void TGradedPanel::Paint(Canvas& canvas) const {
    const int W = Width, H = Height, B = BevelWidth;

    // Gradient: the colour of a line is fixed by where it meets the left edge.
    const TColor start = Enabled ? Color : kDisabledLight;
    const TColor end = Enabled ? color2_ : kDisabledDark;
    if (H >= 0) {
        const int D = diagonal_ ? H : 0;
        for (int i = 0; i <= H; ++i) {
            canvas.SetPenColor(GradientColor(start, end, i, H + D));
            canvas.MoveTo(0, i);
            canvas.LineTo(W, i - D);
        }
        if (diagonal_) {
            for (int i = 0; i <= H; ++i) {
                canvas.SetPenColor(GradientColor(start, end, H + i, 2 * std::int64_t(H)));
                canvas.MoveTo(W, i);
                canvas.LineTo(0, H + i);
            }
        }
    }

    // Bevels: the dark bands start i pixels in, which mitres the corners.
    if (B > 0) {
        TColor light = pressed_ ? bevelLowLight_ : bevelHighLight_;
        TColor dark = pressed_ ? bevelHighLight_ : bevelLowLight_;
        if (!Enabled) light = kDisabledLight, dark = kDisabledDark;
        canvas.SetPenColor(light);
        for (int i = 0; i < B; ++i) {
            canvas.MoveTo(0, i);
            canvas.LineTo(W, i);
            canvas.MoveTo(i, 0);
            canvas.LineTo(i, H);
        }
        canvas.SetPenColor(dark);
        for (int i = 0; i < B; ++i) {
            canvas.MoveTo(i, H - 1 - i);
            canvas.LineTo(W, H - 1 - i);
            canvas.MoveTo(W - 1 - i, i);
            canvas.LineTo(W - 1 - i, H);
        }
    }

    // Caption: only the first "&" marks an accelerator.
    canvas.SetBrush(color2_, BrushStyle::Clear);
    canvas.SetFont(Font);
    const CaptionParts caption = SplitCaption(Caption);
    const int shift = pressed_ ? 1 : 0;
    const int y = (H - canvas.TextHeight("M")) / 2 + shift;
    int x = (W - canvas.TextWidth(caption.shown)) / 2 + shift;

    if (shadowShift_ > 0 || !Enabled) {
        int k = shadowShift_;
        canvas.SetFontColor(clBlack);
        if (!Enabled) {
            canvas.SetFontColor(clWhite);
            k = 1;
        }
        PaintCaption(canvas, x + k, y + k, caption);
        canvas.SetFont(Font);
    }

    x = (W - canvas.TextWidth(caption.shown)) / 2 + shift;
    if (!Enabled) canvas.SetFontColor(kDisabledDark);
    PaintCaption(canvas, x, y, caption);

    if (focused_) {
        canvas.SetPenColor(clGray);
        canvas.MoveTo(0, 0);
        canvas.LineTo(W - 1, 0);
        canvas.LineTo(W - 1, H - 1);
        canvas.LineTo(0, H - 1);
        canvas.LineTo(0, 0);
        canvas.MoveTo(W - 2, 1);
        canvas.LineTo(W - 2, H - 2);
        canvas.LineTo(1, H - 2);
        canvas.MoveTo(B + 1, B + 1);
        canvas.LineTo(W - B - 2, B + 1);
        canvas.LineTo(W - B - 2, H - B - 2);
        canvas.LineTo(B + 1, H - B - 2);
        canvas.LineTo(B + 1, B + 1);
    }
}

void TGradedPanel::PaintCaption(Canvas& canvas, int x, int y, const CaptionParts& caption) {
    if (!caption.split) {
        canvas.PutText(x, y, caption.shown);
        return;
    }
    canvas.PutText(x, y, caption.before);
    x += canvas.TextWidth(caption.before);
    canvas.SetUnderline(true);
    canvas.PutText(x, y, caption.accelerator);
    x += canvas.TextWidth(caption.accelerator);
    canvas.SetUnderline(false);
    canvas.PutText(x, y, caption.after);
}

void TGradedPanel::MouseDown(MouseButton button, int x, int y) {
    if (!Active()) return;
    if (peer_)
        peer_->TakeFocus();
    else if (!focused_)
        FocusGained();
    pressed_ = true;
    clickArmed_ = button == MouseButton::Left;
    Repaint();
    if (!NoStdEvents && OnMouseDown) OnMouseDown(*this, button, x, y);
}

void TGradedPanel::MouseUp(MouseButton button, int x, int y) {
    if (!Active()) return;
    pressed_ = false;
    Repaint();
    if (!NoStdEvents && OnMouseUp) OnMouseUp(*this, button, x, y);
}

void TGradedPanel::Click() {
    if (!Active()) return;
    Repaint();
    if (OnClick) OnClick(*this);
    Repaint();
}

void TGradedPanel::ButtonReleased(MouseButton button, int x, int y) {
    const bool inside = x >= 0 && y >= 0 && x < Width && y < Height;
    if (button == MouseButton::Left) {
        if (clickArmed_ && inside && !NoStdEvents) Click();
        clickArmed_ = false;
    }
    MouseUp(button, x, y);
}

void TGradedPanel::FocusGained() {
    focused_ = true;
    Repaint();
}

void TGradedPanel::FocusLost() {
    focused_ = false;
    Repaint();
}

void TGradedPanel::KeyUp(int key, unsigned shift) {
    if (!NoStdEvents && key == VK_ENTER && Active() && OnClick) OnClick(*this);
    if (NoStdEvents || key != 0) InheritedKeyUp(key, shift);
}

}  // namespace qlr
