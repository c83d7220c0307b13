// The Linux program's command line, a fresh machine, identity, time and the
// headless message loop.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>

#include "native/support/SandboxMachine.h"
#include "platform/sandbox/SandboxPlatform.h"

namespace qlr::sandbox {
namespace {

namespace fs = std::filesystem;

struct Outcome {
    int code = -1;
    std::string output;  // standard output and error
};

// Runs the built tovanel with arguments (no blanks in them) under a clean
// sandbox environment plus env ("NAME=VALUE ...").
Outcome RunTovanel(const std::string& arguments, const std::string& env = "") {
    const std::string command = "env -u QLR_SANDBOX_ROOT -u QLR_SANDBOX_CMDLINE " + env + " " +
                                testing::BuiltProgram("tovanel").string() + " " + arguments + " 2>&1";
    Outcome outcome;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return outcome;
    char buffer[4096];
    for (std::size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) outcome.output.append(buffer, got);
    const int status = pclose(pipe);
    outcome.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

TEST(SandboxMainTest, HelpExplainsTheSandbox) {
    Outcome help = RunTovanel("--help");
    EXPECT_EQ(help.code, 0);
    for (const char* topic :
         {"--root", "--init", "--verbose", "drive_c", "QLR_SANDBOX_ROOT", "QLR_SANDBOX_FAST", "QLR_UPDATE_BASE_URL",
          "sandbox-denied.txt", "registry.txt", "failure-report.txt", "Startup", "Bootstrap", "Setup"})
        EXPECT_NE(help.output.find(topic), std::string::npos) << topic;
}

TEST(SandboxMainTest, BadArgumentsAndMissingRootsAreRefused) {
    testing::SandboxMachine machine;
    const std::string root = machine.Root().string();
    struct Case {
        std::string arguments;
        std::string message;
    } cases[] = {
        {"", "no sandbox root"},
        {"--verbose", "no sandbox root"},
        {"--root", "needs a value"},
        {"--root " + root + " --frobnicate", "unknown argument"},
        {"--root " + root + " stray", "unknown argument"},
        {"--root " + root + "/drive_c", "not a sandbox"},
        {"--root " + root + " --init a\\\\b", "not a valid user name"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        Outcome outcome = RunTovanel(c.arguments);
        EXPECT_EQ(outcome.code, 2);
        EXPECT_NE(outcome.output.find(c.message), std::string::npos) << outcome.output;
    }
}

// What the platform prints on standard output (not a terminal here) while
// echoing text as the run log grows.
std::string EchoedOnStandardOutput(bool verbose, const std::string& text) {
    testing::SandboxMachine machine;
    auto platform = CreateSandboxPlatform({machine.Root().string(), verbose});
    const fs::path file = machine.Root() / "stdout.txt";
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    const int out = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, STDOUT_FILENO);
    close(out);
    platform->EchoLogText(text);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(SandboxMainTest, RunLogIsEchoedOffATerminalOnlyWhenAskedFor) {
    EXPECT_EQ(EchoedOnStandardOutput(true, "Making TSLData Directories\r\nDirectories exist\r\n"),
              "Making TSLData Directories\nDirectories exist\n");
    EXPECT_EQ(EchoedOnStandardOutput(false, "Making TSLData Directories\r\n"), "");
}

TEST(SandboxMainTest, InitMakesAFreshMachineForTheUser) {
    testing::SandboxMachine machine("Head Office");
    for (const char* folder : {"C:\\windows\\system32", "C:\\Program Files", "C:\\users\\Head Office\\Desktop",
                               "C:\\users\\Head Office\\Start Menu\\Programs"})
        EXPECT_TRUE(machine.platform().FolderExists(folder)) << folder;
    auto key =
        machine.platform().OpenRegistryKey(RegistryRoot::CurrentUser,
                                           "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                                           false);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->ReadValue("Desktop").text, "C:\\users\\Head Office\\Desktop");
    EXPECT_EQ(key->ReadValue("Start Menu").text, "C:\\users\\Head Office\\Start Menu");
    EXPECT_EQ(key->ReadValue("Programs").text, "C:\\users\\Head Office\\Start Menu\\Programs");
    EXPECT_EQ(machine.platform().UserName(253), "Head Office");

    // A second set-up keeps what is there and makes nothing new.
    key->WriteString("Desktop", "C:\\Elsewhere");
    EXPECT_EQ(InitMachine(machine.Root().string(), "Head Office"), std::vector<std::string>{"user Head Office"});
    EXPECT_EQ(key->ReadValue("Desktop").text, "C:\\Elsewhere");
}

TEST(SandboxMainTest, UserNameMustFitTheCallersBuffer) {
    testing::SandboxMachine machine("office");
    EXPECT_EQ(machine.platform().UserName(7), "office");
    EXPECT_EQ(machine.platform().UserName(6), std::nullopt);
    const std::string longName(252, 'n');
    std::ofstream(machine.Root() / "sandbox-user.txt") << longName << "\n";
    EXPECT_EQ(machine.platform().UserName(253), longName);
    EXPECT_EQ(machine.platform().UserName(252), std::nullopt);
}

TEST(SandboxMainTest, IdentityAndTimeAreReportedTheWindowsWay) {
    testing::SandboxMachine machine;
    Platform& p = machine.platform();
    const std::string own = p.OwnPath();  // this test program lies outside drive_c
    EXPECT_EQ(own.rfind("Z:\\", 0), 0u) << own;
    EXPECT_EQ(own.find('/'), std::string::npos) << own;
    EXPECT_NE(own.find("\\tovanel_tests"), std::string::npos) << own;
    EXPECT_NE(p.CommandLine().find("tovanel_tests"), std::string::npos);

    const std::regex dateTime(R"(\d\d/\d\d/\d{4}( \d\d:\d\d:\d\d)?)");
    EXPECT_TRUE(std::regex_match(p.LocalDateTimeText(), dateTime)) << p.LocalDateTimeText();

    p.ReportFailure("The run log could not be saved");
    p.ReportFailure("second\r\n");
    std::ifstream in(machine.Root() / "failure-report.txt", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "The run log could not be saved\nsecond\r\n");
}

TEST(SandboxMainTest, MessageLoopRunsTheTimerUntilTerminated) {
    setenv("QLR_SANDBOX_FAST", "1", 1);
    testing::SandboxMachine machine;
    Platform& p = machine.platform();
    unsetenv("QLR_SANDBOX_FAST");

    p.RunMessageLoop();  // no timer armed: nothing could end the loop, so it returns
    int ticks = 0, nested = 0;
    p.StartTimer(1000, [&] {
        ++ticks;
        p.Sleep(5000);
        p.ProcessMessages();  // the running tick is not started again
        nested = ticks;
        if (ticks == 3) p.Terminate();
    });
    p.RunMessageLoop();
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(nested, 3);
    EXPECT_TRUE(p.Terminated());

    int stopped = 0;
    p.StartTimer(1, [&] { ++stopped; });
    p.StopTimer();
    p.Sleep(10);
    p.ProcessMessages();
    EXPECT_EQ(stopped, 0);
}

}  // namespace
}  // namespace qlr::sandbox
