#pragma once
// The sandbox's stand-in for the screen: on a terminal the progress window
// is one line (title, bar, percentage) kept below the run log, which is
// echoed as it is written. Off a terminal nothing is printed unless the
// log echo was asked for (--verbose); there is no bar then.

#include <memory>
#include <string>

#include "platform/Platform.h"

namespace qlr::sandbox {

class TerminalConsole {
public:
    // fd is written to, not owned; terminal says whether a person watches it.
    TerminalConsole(int fd, bool terminal, bool verbose);
    ~TerminalConsole();
    TerminalConsole(const TerminalConsole&) = delete;
    TerminalConsole& operator=(const TerminalConsole&) = delete;

    // Standard output, a terminal when isatty says so.
    static std::unique_ptr<TerminalConsole> ForStandardOutput(bool verbose);

    // nullptr when no bar is to be shown.
    std::unique_ptr<NativeProgressWindow> CreateProgressWindow(Tf_progress& model);
    // Text as added to the run log; CR LF is written as LF.
    void EchoLogText(const std::string& appended);

    static constexpr int BarCells = 30;

private:
    friend class TerminalBar;
    void ShowBar(const Tf_progress* model);
    void HideBar();
    void DrawBar();
    void Write(const std::string& text);

    int fd_;
    bool terminal_;
    bool echo_;
    bool failed_ = false;
    bool atLineStart_ = true;
    const Tf_progress* bar_ = nullptr;  // the window being shown, if any
    std::string pending_;               // an unfinished log line, held back while the bar is shown
};

}  // namespace qlr::sandbox
