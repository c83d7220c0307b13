#pragma once
// What the self-drawn controls need from a drawing surface: GDI on Windows,
// a recording canvas in tests. Colours are Windows colour values $00BBGGRR;
// a value whose top byte is $80 names a system colour, which the surface
// resolves when it uses it for the pen, the font or a fill.

#include <cstdint>
#include <string>

namespace qlr {

using TColor = std::uint32_t;

inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clGray = 0x808080;
inline constexpr TColor clBtnFace = 0x8000000F;
inline constexpr TColor clWindowText = 0x80000008;

inline constexpr TColor RGBColor(int red, int green, int blue) {
    return TColor(red & 0xFF) | TColor(green & 0xFF) << 8 | TColor(blue & 0xFF) << 16;
}

// Font style bits.
inline constexpr unsigned fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8;
// Character sets as GDI numbers them.
inline constexpr int ANSI_CHARSET_ID = 0, DEFAULT_CHARSET_ID = 1;

struct TFont {
    std::string Name = "MS Sans Serif";
    int Height = 11;  // character height in pixels, without the internal leading
    unsigned Style = 0;
    TColor Color = clWindowText;
    int Charset = DEFAULT_CHARSET_ID;
    bool operator==(const TFont&) const = default;
};

enum class BrushStyle { Solid, Clear };

class Canvas {
public:
    virtual ~Canvas() = default;

    // One-pixel pen. LineTo colours every pixel from the current point up to,
    // but not including, the end point, which becomes the current point.
    virtual void SetPenColor(TColor color) = 0;
    virtual void MoveTo(int x, int y) = 0;
    virtual void LineTo(int x, int y) = 0;

    // Text is drawn over a background of the brush colour, or none with Clear.
    virtual void SetBrush(TColor color, BrushStyle style) = 0;
    virtual void SetFont(const TFont& font) = 0;
    virtual void SetFontColor(TColor color) = 0;
    virtual void SetUnderline(bool on) = 0;
    // The text's top-left corner at (x, y), in the current font.
    virtual void PutText(int x, int y, const std::string& text) = 0;
    virtual int TextWidth(const std::string& text) = 0;
    virtual int TextHeight(const std::string& text) = 0;

    // Pixels left <= x < right, top <= y < bottom.
    virtual void FillRect(int left, int top, int right, int bottom, TColor color) = 0;
};

}  // namespace qlr
