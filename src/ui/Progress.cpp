#include "ui/Progress.h"

#include <algorithm>

namespace qlr {

void TGauge::SetProgress(int value) {
    value = std::clamp(value, MinValue, MaxValue);
    if (value == progress_) return;
    progress_ = value;
    if (peer_) peer_->SetText(Text());
}

void TGauge::Repaint() {
    if (peer_) peer_->Repaint();
}

void TGauge::Paint(Canvas& canvas) const {
    const int w = Placement.width, h = Placement.height;
    canvas.SetPenColor(clBlack);
    canvas.MoveTo(0, 0);
    canvas.LineTo(w - 1, 0);
    canvas.LineTo(w - 1, h - 1);
    canvas.LineTo(0, h - 1);
    canvas.LineTo(0, 0);

    const int inner = std::max(0, w - 2);
    const int filled = inner * progress_ / MaxValue;
    canvas.FillRect(1, 1, 1 + filled, h - 1, ForeColor);
    canvas.FillRect(1 + filled, 1, 1 + inner, h - 1, BackColor);

    const std::string text = Text();
    canvas.SetFont(Font);
    canvas.SetBrush(BackColor, BrushStyle::Clear);
    canvas.PutText((w - canvas.TextWidth(text)) / 2, (h - canvas.TextHeight(text)) / 2, text);
}

void TProgressLabel::Paint(Canvas& canvas) const {
    canvas.SetFont(Font);
    canvas.SetBrush(Color, Transparent ? BrushStyle::Clear : BrushStyle::Solid);
    if (!Transparent) canvas.FillRect(0, 0, Placement.width, Placement.height, Color);
    const int x = Centered ? (Placement.width - canvas.TextWidth(Caption)) / 2 : 0;
    canvas.PutText(x, 0, Caption);
}

Tf_progress::Tf_progress()
    : Label1{{32, 32, 41, 13}, "Progress", Font, false, true, false, clBtnFace},
      Label2{{1, 9, 275, 24},
             "Installing Quillory",
             TFont{"Arial", 16, fsBold, clWindowText, ANSI_CHARSET_ID},
             true,
             true,
             false,
             0x004080FF} {
    Label1.AutoSize = true;
    TGradedPanel& panel = GradedPanel1;
    panel.Left = 0;
    panel.Top = 0;
    panel.Width = Placement.width;
    panel.Height = Placement.height;
    panel.Font = Font;
    panel.Caption.clear();
    panel.BevelWidth = 5;
    panel.Color = 0x00B3FFFF;
    panel.SetColor2(0x009B9BFF);
    panel.SetDiagonal(true);
    panel.SetBevelHighLight(0x00FFFF80);
    panel.SetBevelLowLight(0x00FF8000);
    panel.SetShadowShift(0);
    panel.SetColor256(clBlack);
    panel.DefaultBtn = false;
}

Tf_progress::Tf_progress(Platform& platform, NativeWindow* owner) : Tf_progress() {
    window_ = platform.CreateProgressWindow(owner, *this);
}

Tf_progress::~Tf_progress() = default;

void Tf_progress::Show() {
    visible_ = true;
    if (window_) window_->Show();
}

void Tf_progress::Close() {
    visible_ = false;
    if (window_) window_->Hide();
}

}  // namespace qlr
