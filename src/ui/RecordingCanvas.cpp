#include "ui/RecordingCanvas.h"

namespace qlr {

void RecordingCanvas::SetPenColor(TColor color) {
    pen_ = color;
    records_.push_back({Op::PenColor, 0, 0, 0, 0, color, {}, false});
}

void RecordingCanvas::MoveTo(int x, int y) {
    penX_ = x;
    penY_ = y;
    records_.push_back({Op::MoveTo, x, y, 0, 0, 0, {}, false});
}

void RecordingCanvas::LineTo(int x, int y) {
    records_.push_back({Op::LineTo, x, y, 0, 0, 0, {}, false});
    lines_.push_back({penX_, penY_, x, y, pen_});
    penX_ = x;
    penY_ = y;
}

void RecordingCanvas::SetBrush(TColor color, BrushStyle style) {
    clearBrush_ = style == BrushStyle::Clear;
    records_.push_back({Op::Brush, 0, 0, 0, 0, color, {}, clearBrush_});
}

void RecordingCanvas::SetFont(const TFont& font) {
    font_ = font;
    underline_ = (font.Style & fsUnderline) != 0;
    records_.push_back({Op::Font, 0, 0, 0, 0, font.Color, font.Name, underline_});
}

void RecordingCanvas::SetFontColor(TColor color) {
    font_.Color = color;
    records_.push_back({Op::FontColor, 0, 0, 0, 0, color, {}, false});
}

void RecordingCanvas::SetUnderline(bool on) {
    underline_ = on;
    records_.push_back({Op::Underline, 0, 0, 0, 0, 0, {}, on});
}

void RecordingCanvas::PutText(int x, int y, const std::string& text) {
    records_.push_back({Op::Text, x, y, 0, 0, font_.Color, text, underline_});
    texts_.push_back({x, y, text, font_.Color, underline_, font_.Name, clearBrush_});
}

int RecordingCanvas::TextWidth(const std::string& text) { return CharWidth * static_cast<int>(text.size()); }

int RecordingCanvas::TextHeight(const std::string&) { return LineHeight; }

void RecordingCanvas::FillRect(int left, int top, int right, int bottom, TColor color) {
    records_.push_back({Op::FillRect, left, top, right, bottom, color, {}, false});
}

void RecordingCanvas::Clear() {
    records_.clear();
    lines_.clear();
    texts_.clear();
}

}  // namespace qlr
