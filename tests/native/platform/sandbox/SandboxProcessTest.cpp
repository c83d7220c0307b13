// Starting programs on the sandbox as CreateProcessA finds them, and their
// exit codes. The built standin records every start in C:\standin-runs.txt.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "native/support/SandboxMachine.h"
#include "platform/sandbox/SandboxPlatform.h"
#include "platform/sandbox/SandboxProcess.h"

namespace qlr::sandbox {
namespace {

namespace fs = std::filesystem;

// Sets an environment variable for one test; started programs inherit it.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) { setenv(name, value, 1); }
    ~ScopedEnv() { unsetenv(name_); }

private:
    const char* name_;
};

bool WaitForEnd(Process& process) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!process.HasEnded()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

class SandboxProcessTest : public ::testing::Test {
protected:
    // Starts commandLine, waits for it, and returns the standin's record of it.
    std::string RunAndRecord(const std::string& commandLine, const std::string& program = {}) {
        const std::size_t before = machine_.StandinRuns().size();
        auto process = machine_.platform().SpawnProcess(commandLine, program);
        if (!process) return "<not started>";
        EXPECT_TRUE(WaitForEnd(*process));
        auto runs = machine_.StandinRuns(before + 1);
        return runs.size() > before ? runs.back() : "<no record>";
    }

    testing::SandboxMachine machine_;
};

TEST(CommandLineTest, FirstTokenCandidatesFollowTheUnquotedNameRules) {
    auto candidates = ProgramCandidates("C:\\Program Files\\Q\\QLR6-38.exe  QLR");
    ASSERT_EQ(candidates.size(), 3u);
    EXPECT_EQ(candidates[0].program, "C:\\Program");
    EXPECT_EQ(candidates[1].program, "C:\\Program Files\\Q\\QLR6-38.exe");
    EXPECT_EQ(candidates[1].rest, "  QLR");
    EXPECT_EQ(candidates[2].program, "C:\\Program Files\\Q\\QLR6-38.exe  QLR");

    candidates = ProgramCandidates("\"C:\\Program Files\\x.exe\" a b");
    ASSERT_EQ(candidates.size(), 1u);
    EXPECT_EQ(candidates[0].program, "C:\\Program Files\\x.exe");
    EXPECT_EQ(SplitArguments(candidates[0].rest), (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(ProgramCandidates("   ").empty());

    EXPECT_EQ(WithDefaultExtension("net"), "net.exe");
    EXPECT_EQ(WithDefaultExtension("C:\\v1.2\\tool"), "C:\\v1.2\\tool.exe");
    EXPECT_EQ(WithDefaultExtension("Shifter.EXE"), "Shifter.EXE");
    EXPECT_EQ(WithDefaultExtension("setup.bat"), "setup.bat");
    EXPECT_TRUE(IsBareName("net.exe"));
    EXPECT_FALSE(IsBareName("C:net.exe"));
    EXPECT_FALSE(IsBareName("bin\\net.exe"));
}

TEST_F(SandboxProcessTest, UnquotedPathWithBlanksFindsTheProgramAndKeepsTheCommandLine) {
    machine_.PlaceStandin("C:\\Program Files\\Tessaly\\Quillory\\QLR6-38.exe");
    machine_.MakeFolders("C:\\TSLData\\QLR");
    ASSERT_TRUE(machine_.platform().SetCurrentFolder("c:\\tsldata\\qlr"));
    EXPECT_EQ(
        RunAndRecord("C:\\Program Files\\Tessaly\\Quillory\\QLR6-38.exe QLR"),
        "C:\\Program Files\\Tessaly\\Quillory\\QLR6-38.exe | C:\\Program Files\\Tessaly\\Quillory\\QLR6-38.exe QLR"
        " | C:\\TSLData\\QLR");
    EXPECT_EQ(RunAndRecord("\"c:\\program files\\tessaly\\quillory\\qlr6-38\" Pexil"),
              "C:\\Program Files\\Tessaly\\Quillory\\QLR6-38.exe | \"c:\\program files\\tessaly\\quillory\\qlr6-38\" "
              "Pexil | C:\\TSLData\\QLR");

    // A shorter prefix that names a program wins, as on Windows.
    machine_.PlaceStandin("C:\\Program.exe");
    EXPECT_EQ(RunAndRecord("C:\\Program Files\\Tessaly\\Quillory\\QLR6-38.exe QLR"),
              "C:\\Program.exe | C:\\Program Files\\Tessaly\\Quillory\\QLR6-38.exe QLR | C:\\TSLData\\QLR");

    // An application name is the program: the line reaches it as given.
    EXPECT_EQ(RunAndRecord("C:\\Program Files\\Tessaly\\Quillory\\QLR6-38.exe QLR",
                           "c:\\program files\\tessaly\\quillory\\QLR6-38.exe"),
              "C:\\Program Files\\Tessaly\\Quillory\\QLR6-38.exe | "
              "C:\\Program Files\\Tessaly\\Quillory\\QLR6-38.exe QLR | C:\\TSLData\\QLR");
    EXPECT_EQ(RunAndRecord("anything at all", "C:\\Program Files\\Tessaly\\Quillory\\QLR6-38.exe"),
              "C:\\Program Files\\Tessaly\\Quillory\\QLR6-38.exe | anything at all | C:\\TSLData\\QLR");
    // Named but missing: nothing starts, whatever the line would find.
    EXPECT_EQ(RunAndRecord("C:\\Program Files\\Tessaly\\Quillory\\QLR6-39.exe QLR",
                           "C:\\Program Files\\Tessaly\\Quillory\\QLR6-39.exe"),
              "<not started>");
    EXPECT_EQ(RunAndRecord("C:\\Program", "C:\\Program"), "<not started>");  // never ".exe" added
}

TEST_F(SandboxProcessTest, BareNamesAreSearchedInTheCurrentThenTheSystemFolders) {
    machine_.MakeFolders("C:\\Work");
    machine_.platform().SetCurrentFolder("C:\\Work");
    const std::string command = "net stop \"InterBase Guardian\" >NULL";
    for (const char* place : {"C:\\windows\\net.exe", "C:\\windows\\system32\\NET.EXE", "C:\\Work\\Net.exe"}) {
        machine_.PlaceStandin(place);
        EXPECT_EQ(RunAndRecord(command), std::string(place) + " | " + command + " | C:\\Work");
    }
    EXPECT_FALSE(fs::exists(machine_.Host("C:\\Work\\NULL")));
}

TEST_F(SandboxProcessTest, OnlyNativeExecutablesStart) {
    machine_.Write("C:\\Tools\\text.exe", "MZ this is not a program here");
    machine_.Write("C:\\Program.exe", "not a program");
    machine_.PlaceStandin("C:\\Program Files\\QLR6-38.exe");
    Platform& p = machine_.platform();
    EXPECT_EQ(p.SpawnProcess("C:\\Tools\\text.exe"), nullptr);
    EXPECT_EQ(p.SpawnProcess("C:\\Tools\\missing.exe"), nullptr);
    EXPECT_EQ(p.SpawnProcess("D:\\Tools\\text.exe"), nullptr);
    EXPECT_EQ(p.SpawnProcess(""), nullptr);
    // The first file found is the program, even when it cannot run.
    EXPECT_EQ(p.SpawnProcess("C:\\Program Files\\QLR6-38.exe QLR"), nullptr);
    machine_.Deny("file C:\\Program Files\\QLR6-38.exe");
    EXPECT_EQ(p.SpawnProcess("\"C:\\Program Files\\QLR6-38.exe\""), nullptr);
    EXPECT_TRUE(machine_.StandinRuns().empty());
}

TEST_F(SandboxProcessTest, ExitCodeIsStillActiveUntilTheProcessEnds) {
    machine_.PlaceStandin("C:\\Tools\\slow.exe");
    ScopedEnv hang("QLR_STANDIN_HANG", "slow.exe:1");
    ScopedEnv code("QLR_STANDIN_EXIT", "7");
    auto process = machine_.platform().SpawnProcess("C:\\Tools\\slow.exe");
    ASSERT_TRUE(process);
    EXPECT_EQ(process->ExitCode(), 259u);
    EXPECT_FALSE(process->HasEnded());
    ASSERT_TRUE(WaitForEnd(*process));
    EXPECT_EQ(process->ExitCode(), 7u);
    EXPECT_EQ(process->ExitCode(), 7u);  // kept once reaped
    EXPECT_TRUE(process->HasEnded());
}

TEST_F(SandboxProcessTest, EndBySignalIsAnEndToo) {
    machine_.MakeFolders("C:\\Tools");
    fs::copy_file("/bin/sh", machine_.Host("C:\\Tools\\sh.exe"));
    // The shell splits the script at ${IFS}: the blanks of a command line would end the argument.
    auto process = machine_.platform().SpawnProcess("C:\\Tools\\sh.exe -c kill${IFS}-9${IFS}$$");
    ASSERT_TRUE(process);
    ASSERT_TRUE(WaitForEnd(*process));
    EXPECT_NE(process->ExitCode(), 259u);
    EXPECT_NE(process->ExitCode(), 0u);
}

TEST_F(SandboxProcessTest, ProgramsFindTheRootGivenRelativeToAnotherFolder) {
    machine_.PlaceStandin("C:\\Work\\probe.exe");
    const fs::path before = fs::current_path();
    fs::current_path(machine_.Root().parent_path());
    auto platform = CreateSandboxPlatform({machine_.Root().filename().string(), false});
    fs::current_path(before);
    ASSERT_TRUE(platform->SetCurrentFolder("C:\\Work"));
    auto process = platform->SpawnProcess("probe");
    ASSERT_TRUE(process);
    ASSERT_TRUE(WaitForEnd(*process));
    EXPECT_EQ(process->ExitCode(), 0u);
    EXPECT_EQ(machine_.StandinRuns(1), std::vector<std::string>{"C:\\Work\\probe.exe | probe | C:\\Work"});
}

TEST_F(SandboxProcessTest, RunningExecutableCanBeReplaced) {
    machine_.PlaceStandin("C:\\TSLData\\QLR\\Tovanel.exe");
    machine_.Write("C:\\TSLData\\QLR\\Tovanel.new", "next version");
    ScopedEnv hang("QLR_STANDIN_HANG", "1");
    auto process = machine_.platform().SpawnProcess("C:\\TSLData\\QLR\\Tovanel.exe");
    ASSERT_TRUE(process);
    EXPECT_TRUE(machine_.platform().MoveOver("C:\\TSLData\\QLR\\Tovanel.new", "C:\\TSLData\\QLR\\Tovanel.exe"));
    EXPECT_EQ(machine_.Read("C:\\TSLData\\QLR\\Tovanel.exe"), "next version");
    EXPECT_TRUE(WaitForEnd(*process));
}

TEST_F(SandboxProcessTest, StartedInstallerRegistersWhatThisProcessThenReads) {
    machine_.PlaceStandin("C:\\Temp\\QLR\\Firebird\\Firebird-2.1.1.17910-0_Win32.exe");
    auto process =
        machine_.platform().SpawnProcess("c:\\temp\\QLR\\Firebird\\Firebird-2.1.1.17910-0_Win32.exe /SILENT");
    ASSERT_TRUE(process);
    ASSERT_TRUE(WaitForEnd(*process));
    auto key = machine_.platform().OpenRegistryKey(RegistryRoot::LocalMachine,
                                                   "Software\\Firebird Project\\Firebird Server\\Instances", false);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->ReadValue("DefaultInstance").kind, RegistryValue::Kind::String);
}

}  // namespace
}  // namespace qlr::sandbox
