#include "platform/win32/GdiCanvas.h"

namespace qlr::win32 {

COLORREF ResolveColor(TColor color) {
    if ((color & 0xFF000000u) == 0x80000000u) return ::GetSysColor(static_cast<int>(color & 0xFF));
    return color & 0x00FFFFFFu;
}

GdiCanvas::GdiCanvas(HDC dc) : dc_(dc), saved_(::SaveDC(dc)) {
    ::SetBkMode(dc_, OPAQUE);
    ::SetTextAlign(dc_, TA_LEFT | TA_TOP | TA_NOUPDATECP);
}

// The DC lets go of our objects before they are deleted.
GdiCanvas::~GdiCanvas() { ::RestoreDC(dc_, saved_); }

void GdiCanvas::SetPenColor(TColor color) {
    UniqueGdiObject pen(::CreatePen(PS_SOLID, 1, ResolveColor(color)));
    if (!pen) return;
    ::SelectObject(dc_, pen.get());
    pen_ = std::move(pen);
}

void GdiCanvas::MoveTo(int x, int y) { ::MoveToEx(dc_, x, y, nullptr); }

void GdiCanvas::LineTo(int x, int y) { ::LineTo(dc_, x, y); }

void GdiCanvas::SetBrush(TColor color, BrushStyle style) {
    ::SetBkColor(dc_, ResolveColor(color));
    ::SetBkMode(dc_, style == BrushStyle::Clear ? TRANSPARENT : OPAQUE);
}

void GdiCanvas::SetFont(const TFont& font) {
    fontSpec_ = font;
    underline_ = (font.Style & fsUnderline) != 0;
    fontStale_ = true;
}

void GdiCanvas::SetFontColor(TColor color) { fontSpec_.Color = color; }

void GdiCanvas::SetUnderline(bool on) {
    if (on == underline_) return;
    underline_ = on;
    fontStale_ = true;
}

void GdiCanvas::UseFont() {
    if (!fontStale_) return;
    const TFont& f = fontSpec_;
    UniqueGdiObject font(::CreateFontA(-f.Height, 0, 0, 0, (f.Style & fsBold) ? FW_BOLD : FW_NORMAL,
                                       (f.Style & fsItalic) != 0, underline_, (f.Style & fsStrikeOut) != 0,
                                       static_cast<DWORD>(f.Charset), OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                       DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, f.Name.c_str()));
    if (!font) return;
    ::SelectObject(dc_, font.get());
    font_ = std::move(font);
    fontStale_ = false;
}

void GdiCanvas::PutText(int x, int y, const std::string& text) {
    UseFont();
    ::SetTextColor(dc_, ResolveColor(fontSpec_.Color));
    ::TextOutA(dc_, x, y, text.data(), static_cast<int>(text.size()));
}

SIZE GdiCanvas::Extent(const std::string& text) {
    UseFont();
    SIZE size{0, 0};
    ::GetTextExtentPoint32A(dc_, text.data(), static_cast<int>(text.size()), &size);
    return size;
}

int GdiCanvas::TextWidth(const std::string& text) { return Extent(text).cx; }

int GdiCanvas::TextHeight(const std::string& text) { return Extent(text).cy; }

void GdiCanvas::FillRect(int left, int top, int right, int bottom, TColor color) {
    if (right <= left || bottom <= top) return;
    UniqueGdiObject brush(::CreateSolidBrush(ResolveColor(color)));
    RECT rect{left, top, right, bottom};
    ::FillRect(dc_, &rect, static_cast<HBRUSH>(brush.get()));
}

}  // namespace qlr::win32
