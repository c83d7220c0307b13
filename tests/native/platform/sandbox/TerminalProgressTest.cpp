// The sandbox's terminal display: the one-line bar below the echoed run
// log, and silence off a terminal unless the echo was asked for.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "platform/sandbox/TerminalProgress.h"
#include "ui/Progress.h"

namespace qlr::sandbox {
namespace {

// A file standing in for the terminal, read back whole.
class Capture {
public:
    Capture() : file_(std::tmpfile(), &std::fclose) {}
    int fd() const { return fileno(file_.get()); }
    std::string Text() const {
        std::string text;
        char buffer[4096];
        ::lseek(fd(), 0, SEEK_SET);
        for (ssize_t n; (n = ::read(fd(), buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
        return text;
    }

private:
    std::unique_ptr<FILE, int (*)(FILE*)> file_;
};

const std::string kClear = "\r\033[K";

std::string Bar(int value) {
    const int filled = TerminalConsole::BarCells * value / 100;
    return kClear + "Installing QLR [" + std::string(filled, '#') +
           std::string(TerminalConsole::BarCells - filled, '.') + "] " + std::to_string(value) + "%";
}

TEST(TerminalDisplay, BarFollowsTheGaugeAndLogLinesGoAboveIt) {
    Capture out;
    TerminalConsole console(out.fd(), true, false);
    Tf_progress form;
    form.AttachWindow(console.CreateProgressWindow(form));
    console.EchoLogText("------------- Start Pt 2 --------------\r\n");
    form.Show();
    form.Gauge1.SetProgress(10);
    form.Gauge1.SetProgress(10);  // unchanged: not drawn again
    console.EchoLogText("Gauge = 10\r\n");
    console.EchoLogText("Decoding 2 files");  // unfinished line waits below the bar
    form.Gauge1.SetProgress(150);
    console.EchoLogText(" OK\r\nFile 1: C:\\x\r\n");
    form.Close();
    console.EchoLogText("Starting Program...\r\n");
    EXPECT_EQ(out.Text(), "------------- Start Pt 2 --------------\n" + Bar(0) + Bar(10) + kClear + "Gauge = 10\n" +
                              Bar(10) + Bar(100) + kClear + "Decoding 2 files OK\nFile 1: C:\\x\n" + Bar(100) + kClear +
                              "Starting Program...\n");
}

TEST(TerminalDisplay, UnfinishedLineIsWrittenAndEndedWhenTheRunEnds) {
    Capture out;
    {
        TerminalConsole console(out.fd(), true, false);
        Tf_progress form;
        form.AttachWindow(console.CreateProgressWindow(form));
        form.Show();
        console.EchoLogText("\r\nUnexpected Exception encountered ...FAILED (2)");
    }  // the run ends with the window still up
    EXPECT_EQ(out.Text(),
              Bar(0) + kClear + "\n" + Bar(0) + kClear + "Unexpected Exception encountered ...FAILED (2)\n");
}

TEST(TerminalDisplay, OffATerminalOnlyVerboseEchoesAndNeverDrawsABar) {
    for (bool verbose : {false, true}) {
        Capture out;
        TerminalConsole console(out.fd(), false, verbose);
        Tf_progress form;
        EXPECT_EQ(console.CreateProgressWindow(form), nullptr);
        form.Show();
        form.Gauge1.SetProgress(50);
        console.EchoLogText("Accessing cloud\r\n");
        console.EchoLogText("Nothing to do\r\n");
        EXPECT_EQ(out.Text(), verbose ? "Accessing cloud\nNothing to do\n" : "") << "verbose " << verbose;
    }
}

TEST(TerminalDisplay, ClosedReaderStopsTheEchoWithoutEndingTheProcess) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);
    TerminalConsole console(fds[1], false, true);
    console.EchoLogText("one\r\n");  // EPIPE: must not raise SIGPIPE
    console.EchoLogText("two\r\n");
    sigset_t pending;
    sigpending(&pending);
    EXPECT_FALSE(sigismember(&pending, SIGPIPE));
    ::close(fds[1]);
}

}  // namespace
}  // namespace qlr::sandbox
