#include "app/main.h"
#include "base/Text.h"

namespace qlr {

namespace {
bool EndsWithLineBreak(const std::string& text) {
    return text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0;
}
}  // namespace

void TForm1::AddLogLine(const std::string& text) {
    const std::string& log = Memo3.Text();
    const std::string added = log.empty() || EndsWithLineBreak(log) ? text + "\r\n" : "\r\n" + text;
    Memo3.SetText(log + added);
    platform_.EchoLogText(added);
}

void TForm1::AppendLogText(const std::string& text) {
    Memo3.SetText(NormalizeLineBreaks(Memo3.Text() + text));
    platform_.EchoLogText(NormalizeLineBreaks(text));
}

void TForm1::RepaintLog() { Memo3.Repaint(); }

void TForm1::SaveLog(const std::string& fileName) {
    auto file = platform_.CreateNewFile(fileName);
    if (!file) throw RunError("Cannot create file " + fileName);
    const std::string& log = Memo3.Text();
    if (file->Write(log.data(), log.size()) != log.size()) throw RunError("Stream write error");
}

}  // namespace qlr
