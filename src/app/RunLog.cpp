#include "app/main.h"
#include "app/Text.h"

namespace qlr {

namespace {
bool EndsWithLineBreak(const std::string& text) {
    return text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0;
}
}  // namespace

void TForm1::AddLogLine(const std::string& text) {
    const std::string& log = Memo3.Text();
    if (log.empty() || EndsWithLineBreak(log))
        Memo3.SetText(log + text + "\r\n");
    else
        Memo3.SetText(log + "\r\n" + text);
}

void TForm1::AppendLogText(const std::string& text) {
    Memo3.SetText(NormalizeLineBreaks(Memo3.Text() + text));
}

void TForm1::RepaintLog() { Memo3.Repaint(); }

void TForm1::SaveLog(const std::string& fileName) {
    auto file = platform_.CreateNewFile(fileName);
    if (!file) throw RunError("Cannot create file " + fileName);
    const std::string& log = Memo3.Text();
    if (file->Write(log.data(), log.size()) != log.size()) throw RunError("Stream write error");
}

}  // namespace qlr
