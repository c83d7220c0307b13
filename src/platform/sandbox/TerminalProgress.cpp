#include "platform/sandbox/TerminalProgress.h"

#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <functional>

#include "ui/Progress.h"

namespace qlr::sandbox {

namespace {

std::string WithoutCarriageReturns(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i] == '\r' ? '\n' : text[i];
    }
    return out;
}

// The gauge's bar on the terminal: drawn again whenever the value changes.
class GaugeLine : public NativeControl {
public:
    explicit GaugeLine(std::function<void()> redraw) : redraw_(std::move(redraw)) {}
    void SetText(const std::string&) override { redraw_(); }
    void SetBounds(const Bounds&) override {}
    void Repaint() override {}

private:
    std::function<void()> redraw_;
};

}  // namespace

class TerminalBar : public NativeProgressWindow {
public:
    TerminalBar(TerminalConsole& console, Tf_progress& model) : console_(console), model_(model) {
        model.Gauge1.AttachPeer(std::make_unique<GaugeLine>([this] {
            if (shown_) console_.DrawBar();
        }));
    }
    ~TerminalBar() override {
        Hide();
        model_.Gauge1.AttachPeer(nullptr);
    }
    void Show() override {
        shown_ = true;
        console_.ShowBar(&model_);
    }
    void Hide() override {
        if (!shown_) return;
        shown_ = false;
        console_.HideBar();
    }

private:
    TerminalConsole& console_;
    Tf_progress& model_;
    bool shown_ = false;
};

TerminalConsole::TerminalConsole(int fd, bool terminal, bool verbose)
    : fd_(fd), terminal_(terminal), echo_(terminal || verbose) {}

// A prompt after the run starts on a line of its own.
TerminalConsole::~TerminalConsole() {
    HideBar();
    if (terminal_ && !atLineStart_) Write("\n");
}

std::unique_ptr<TerminalConsole> TerminalConsole::ForStandardOutput(bool verbose) {
    return std::make_unique<TerminalConsole>(STDOUT_FILENO, ::isatty(STDOUT_FILENO) == 1, verbose);
}

std::unique_ptr<NativeProgressWindow> TerminalConsole::CreateProgressWindow(Tf_progress& model) {
    if (!terminal_) return nullptr;
    return std::make_unique<TerminalBar>(*this, model);
}

void TerminalConsole::EchoLogText(const std::string& appended) {
    if (!echo_) return;
    std::string text = WithoutCarriageReturns(appended);
    if (!bar_) {
        Write(text);
        return;
    }
    // Only whole lines go above the bar; the rest waits for its line break.
    pending_ += text;
    const auto lastBreak = pending_.rfind('\n');
    if (lastBreak == std::string::npos) return;
    Write("\r\033[K" + pending_.substr(0, lastBreak + 1));
    pending_.erase(0, lastBreak + 1);
    DrawBar();
}

void TerminalConsole::ShowBar(const Tf_progress* model) {
    bar_ = model;
    DrawBar();
}

void TerminalConsole::HideBar() {
    if (!bar_) return;
    bar_ = nullptr;
    Write("\r\033[K" + pending_);
    pending_.clear();
}

void TerminalConsole::DrawBar() {
    if (!bar_) return;
    const int value = bar_->Gauge1.Progress();
    const int filled = BarCells * value / 100;
    std::string line = "\r\033[K" + bar_->Caption + " [";
    line.append(static_cast<std::size_t>(filled), '#');
    line.append(static_cast<std::size_t>(BarCells - filled), '.');
    line += "] " + bar_->Gauge1.Text();
    Write(line);
}

// A reader that went away must not end the run: SIGPIPE is held back for
// the write and taken off again, and the echo stops.
void TerminalConsole::Write(const std::string& text) {
    if (failed_ || text.empty()) return;
    sigset_t pipe, old;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, &old);
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            failed_ = true;
            if (errno == EPIPE) {
                const timespec none{0, 0};
                sigtimedwait(&pipe, nullptr, &none);
            }
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    atLineStart_ = text.back() == '\n';
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

}  // namespace qlr::sandbox
