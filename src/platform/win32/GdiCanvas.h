#pragma once
// The canvas over a GDI device context. Pens, fonts and brushes are made as
// they are needed and put back when the canvas goes, with the DC's state.

#include <windows.h>

#include "platform/win32/Handles.h"
#include "ui/Canvas.h"

namespace qlr::win32 {

// A system-colour reference ($80 in the top byte) becomes the colour it names.
COLORREF ResolveColor(TColor color);

class GdiCanvas : public Canvas {
public:
    explicit GdiCanvas(HDC dc);
    ~GdiCanvas() override;
    GdiCanvas(const GdiCanvas&) = delete;
    GdiCanvas& operator=(const GdiCanvas&) = delete;

    void SetPenColor(TColor color) override;
    void MoveTo(int x, int y) override;
    void LineTo(int x, int y) override;
    void SetBrush(TColor color, BrushStyle style) override;
    void SetFont(const TFont& font) override;
    void SetFontColor(TColor color) override;
    void SetUnderline(bool on) override;
    void PutText(int x, int y, const std::string& text) override;
    int TextWidth(const std::string& text) override;
    int TextHeight(const std::string& text) override;
    void FillRect(int left, int top, int right, int bottom, TColor color) override;

private:
    SIZE Extent(const std::string& text);
    void UseFont();

    HDC dc_;
    int saved_;
    UniqueGdiObject pen_;
    UniqueGdiObject font_;
    TFont fontSpec_;
    bool underline_ = false;
    bool fontStale_ = true;
};

}  // namespace qlr::win32
