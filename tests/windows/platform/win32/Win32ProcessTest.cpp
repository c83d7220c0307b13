// Starting programs as CreateProcessA does for the run, waiting for them,
// replacing a running one, and the user name.

#include "app/main.h"
#include "platform/win32/Win32Platform.h"
#include "windows/support/WineMachine.h"

namespace qlr::testing {
namespace {

class PlatformProcesses : public WineMachine {
protected:
    std::unique_ptr<Platform> platform = win32::CreateWin32Platform();

    static bool WaitUntilEnded(Process& process, DWORD timeoutMs = 20000) {
        const ULONGLONG end = ::GetTickCount64() + timeoutMs;
        while (!process.HasEnded()) {
            if (::GetTickCount64() >= end) return false;
            ::Sleep(50);
        }
        return true;
    }
};

TEST_F(PlatformProcesses, UnquotedPathWithBlanksStartsInTheCurrentFolderWithTheCommandLineUntouched) {
    const std::string program = std::string(kProgramFolder) + "\\QLR6-38.exe";
    PlaceStandin(program);
    MakeFolders("C:\\Temp\\here");
    ASSERT_TRUE(platform->SetCurrentFolder("C:\\Temp\\here"));

    auto process = platform->SpawnProcess(program + " QLR >NULL");
    ASSERT_TRUE(process);
    ASSERT_TRUE(WaitUntilEnded(*process));

    EXPECT_EQ(process->ExitCode(), 0u);
    const std::string seen = RunningUnderWine() ? "\"" + program + "\" QLR >NULL" : program + " QLR >NULL";
    EXPECT_EQ(Runs(), (std::vector<StandinRun>{{program, seen, "C:\\Temp\\here"}}));
    EXPECT_FALSE(PathExists("C:\\Temp\\here\\NULL")) << "no shell redirects anything";
}

TEST_F(PlatformProcesses, ProgramPathWithBlanksStartsThatProgramOrNoneWithTheCommandLineAsGiven) {
    const std::string program = std::string(kProgramFolder) + "\\QLR6-40.exe";
    PlaceStandin(program);
    PlaceStandin("C:\\Program.exe");  // what the system's own rules start first
    MakeFolders("C:\\Temp\\here");
    ASSERT_TRUE(platform->SetCurrentFolder("C:\\Temp\\here"));
    TForm1 form(*platform);

    EXPECT_TRUE(form.StartProcess(program + " QLR"));
    EXPECT_TRUE(form.StartProcessAndWait(program + "  Pexil >NULL"));
    EXPECT_FALSE(form.StartProcess(std::string(kProgramFolder) + "\\QLR6-41.exe QLR"));
    auto runs = WaitForRuns(2);
    std::sort(runs.begin(), runs.end());
    EXPECT_EQ(runs, (std::vector<StandinRun>{{program, program + "  Pexil >NULL", "C:\\Temp\\here"},
                                             {program, program + " QLR", "C:\\Temp\\here"}}));
}

TEST_F(PlatformProcesses, BareNameIsFoundInTheCurrentFolderWithExeAdded) {
    PlaceStandin(std::string(kDataFolder) + "\\Shifter.exe");
    ASSERT_TRUE(platform->SetCurrentFolder(kDataFolder));

    auto process = platform->SpawnProcess("Shifter now");
    ASSERT_TRUE(process);
    ASSERT_TRUE(WaitUntilEnded(*process));
    const auto runs = Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].program, std::string(kDataFolder) + "\\Shifter.exe");
    EXPECT_EQ(runs[0].commandLine, "Shifter now");
}

TEST_F(PlatformProcesses, MissingProgramIsRefused) {
    EXPECT_EQ(platform->SpawnProcess("C:\\Temp\\nothing-here.exe QLR"), nullptr);
    EXPECT_EQ(platform->SpawnProcess("C:\\Program Files\\Tessaly\\Quillory\\QLR6-38.exe QLR"), nullptr);
    EXPECT_EQ(platform->SpawnProcess(""), nullptr);
}

TEST_F(PlatformProcesses, ExitCodeReadsStillActiveWhileRunningAndTheEndIsSeenEvenForCode259) {
    const std::string program = "C:\\Temp\\p\\QLR6-38.exe";
    PlaceStandin(program);
    {
        ScopedEnvironment hang("QLR_STANDIN_HANG", "2");
        auto running = platform->SpawnProcess(program);
        ASSERT_TRUE(running);
        EXPECT_FALSE(running->HasEnded());
        EXPECT_EQ(running->ExitCode(), 259u);
        ASSERT_TRUE(WaitUntilEnded(*running));
        EXPECT_EQ(running->ExitCode(), 0u);
    }
    for (const char* code : {"259", "7"}) {
        ScopedEnvironment exit("QLR_STANDIN_EXIT", code);
        auto process = platform->SpawnProcess(program);
        ASSERT_TRUE(process);
        ASSERT_TRUE(WaitUntilEnded(*process)) << "exit code " << code;
        EXPECT_EQ(process->ExitCode(), static_cast<std::uint32_t>(std::stoul(code)));
    }
}

TEST_F(PlatformProcesses, WaitingForAChildEndsWhenItExitsWithTheStillActiveCode) {
    const std::string program = "C:\\Temp\\p\\QLR6-38.exe";
    PlaceStandin(program);
    TForm1 form(*platform);
    ScopedEnvironment exit("QLR_STANDIN_EXIT", "259");
    const ULONGLONG start = ::GetTickCount64();
    EXPECT_TRUE(form.StartProcessAndWait(program));
    EXPECT_LT(::GetTickCount64() - start, 10000u);
    EXPECT_EQ(Runs().size(), 1u);
    EXPECT_FALSE(form.StartProcessAndWait("C:\\Temp\\p\\missing.exe"));
}

TEST_F(PlatformProcesses, ProgramsAppendingAtOnceLoseNoRecord) {
    const std::string program = "C:\\Temp\\p\\standin.exe";
    PlaceStandin(program);
    std::vector<std::unique_ptr<Process>> processes;
    for (int i = 0; i < 6; ++i) processes.push_back(platform->SpawnProcess(program + " run" + std::to_string(i)));
    for (auto& process : processes) {
        ASSERT_TRUE(process);
        ASSERT_TRUE(WaitUntilEnded(*process));
    }
    std::vector<std::string> commandLines;
    for (const StandinRun& run : Runs()) commandLines.push_back(run.commandLine);
    std::sort(commandLines.begin(), commandLines.end());
    std::vector<std::string> expected;
    for (int i = 0; i < 6; ++i) expected.push_back(program + " run" + std::to_string(i));
    EXPECT_EQ(commandLines, expected);
}

TEST_F(PlatformProcesses, RunningExecutableIsMovedAsideAndReplaced) {
    const std::string target = "C:\\Temp\\move\\QLR6-38.exe";
    PlaceStandin(target);
    WriteBytes("C:\\Temp\\move\\QLR6-38.new", "the new program");
    ScopedEnvironment hang("QLR_STANDIN_HANG", "3");
    auto running = platform->SpawnProcess(target);
    ASSERT_TRUE(running);
    ASSERT_EQ(WaitForRuns(1).size(), 1u) << "the program did not start";
    ASSERT_FALSE(running->HasEnded());

    EXPECT_FALSE(platform->MoveOver("C:\\Temp\\move\\QLR6-38.new", target)) << "replaced where it runs";
    EXPECT_TRUE(platform->MoveOver(target, target + ".1.qlrold"));
    EXPECT_TRUE(platform->MoveOver("C:\\Temp\\move\\QLR6-38.new", target));
    EXPECT_EQ(ReadBytes(target), "the new program");
    EXPECT_FALSE(PathExists("C:\\Temp\\move\\QLR6-38.new"));
    ASSERT_TRUE(WaitUntilEnded(*running));
    EXPECT_EQ(running->ExitCode(), 0u) << "the running copy was not disturbed";
}

TEST_F(PlatformProcesses, UserNameNeedsRoomForTheNameAndItsNull) {
    const auto name = platform->UserName(253);
    ASSERT_TRUE(name);
    ASSERT_FALSE(name->empty());
    EXPECT_EQ(*name, UserName());
    EXPECT_EQ(name->find('\0'), std::string::npos);
    const auto size = static_cast<std::uint32_t>(name->size());
    EXPECT_EQ(platform->UserName(size + 1), name);
    EXPECT_EQ(platform->UserName(size), std::nullopt);
    EXPECT_EQ(platform->UserName(0), std::nullopt);
}

}  // namespace
}  // namespace qlr::testing
