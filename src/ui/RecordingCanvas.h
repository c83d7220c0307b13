#pragma once
// A canvas that draws nothing and keeps every operation in order, for
// checking painting without a screen. Its text metric is fixed: every
// character is 6 pixels wide and every text is 13 pixels high, whatever
// the font.

#include <string>
#include <vector>

#include "ui/Canvas.h"

namespace qlr {

class RecordingCanvas : public Canvas {
public:
    static constexpr int CharWidth = 6;
    static constexpr int LineHeight = 13;

    enum class Op { PenColor, MoveTo, LineTo, Brush, Font, FontColor, Underline, Text, FillRect };
    struct Record {
        Op op;
        int x = 0, y = 0, x2 = 0, y2 = 0;
        TColor color = 0;
        std::string text;
        bool flag = false;  // Underline: on; Brush: clear
    };
    // A finished line with the pen colour it was drawn in.
    struct Line {
        int x1, y1, x2, y2;
        TColor color;
        bool operator==(const Line&) const = default;
    };
    // A text output with the font state in force.
    struct Text {
        int x, y;
        std::string text;
        TColor color;
        bool underline;
        std::string fontName;
        bool clearBrush;
        bool operator==(const Text&) const = default;
    };

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

    const std::vector<Record>& Records() const { return records_; }
    const std::vector<Line>& Lines() const { return lines_; }
    const std::vector<Text>& Texts() const { return texts_; }
    const TFont& CurrentFont() const { return font_; }
    void Clear();

private:
    std::vector<Record> records_;
    std::vector<Line> lines_;
    std::vector<Text> texts_;
    TColor pen_ = clBlack;
    int penX_ = 0, penY_ = 0;
    TFont font_;
    bool underline_ = false;
    bool clearBrush_ = false;
};

}  // namespace qlr
