// Whole runs of the real Tovanel.exe: the Bootstrap copy under Program Files
// hands over to the data-folder copy, which starts the application and
// Shifter.exe; both save their logs.

#include <regex>

#include "windows/support/TestHttpServer.h"
#include "windows/support/WineMachine.h"

namespace qlr::testing {
namespace {

const std::string kBootstrap = std::string(WineMachine::kProgramFolder) + "\\Tovanel.exe";
const std::string kStartup = std::string(WineMachine::kDataFolder) + "\\Tovanel.exe";
const std::string kShifter = std::string(WineMachine::kDataFolder) + "\\Shifter.exe";
const std::string kBootstrapLog = "C:\\Temp\\QLR\\InstallLog Bootstrap.txt";
const std::string kStartupLog = "C:\\Temp\\QLR\\InstallLog Startup.txt";

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    return text;
}

const std::vector<std::string> kStartUpLines = {
    "Deleteing 6-36 files",
    "Extracting this application name",
    "Checking if this is secondary startup",
};

// Every log begins with the version line, whose date and time follow the
// user's locale, and the start-up lines; the rest is exact.
void ExpectLog(const std::string& file, const std::vector<std::string>& linesAfterStartUp) {
    std::vector<std::string> linesAfterVersion = kStartUpLines;
    linesAfterVersion.insert(linesAfterVersion.end(), linesAfterStartUp.begin(), linesAfterStartUp.end());
    const auto bytes = ReadBytes(file);
    ASSERT_TRUE(bytes) << file << " was not saved";
    const auto end = bytes->find("\r\n");
    ASSERT_NE(end, std::string::npos) << *bytes;
    const std::string versionLine = bytes->substr(0, end);
    EXPECT_TRUE(std::regex_match(versionLine,
                                 std::regex(R"(Updater Version 11, \d[\d./-]*\d( [\d:]+( [AP]M)?)? Tovanel\.exe)")))
        << versionLine;
    EXPECT_EQ(bytes->substr(end + 2), Joined(linesAfterVersion)) << file;
}

class RunControl : public WineMachine {
protected:
    static std::vector<StandinRun> Sorted(std::vector<StandinRun> runs) {
        std::sort(runs.begin(), runs.end());
        return runs;
    }
};

TEST_F(RunControl, BootstrapHandsOverToTheDataFolderCopyWhichStartsTheApplicationAndShifter) {
    PlaceTovanel(kBootstrap);
    PlaceTovanel(kStartup);
    PlaceStandin(std::string(kDataFolder) + "\\QLR6-38.exe");
    PlaceStandin(kShifter);
    WriteBytes("C:\\SchoolData\\mydata.ib", "");
    TestHttpServer server(
        std::map<std::string, std::string>{{"/qlr/index.php", "Programs on offer\r\nQLR6-38.pak 3 MB\r\n"}});
    ScopedEnvironment url("QLR_UPDATE_BASE_URL", (server.BaseUrl() + "qlr/").c_str());

    EXPECT_EQ(RunProgram(kBootstrap), 0u);
    const auto runs = WaitForRuns(3);
    EXPECT_TRUE(WaitForAllEnded());

    EXPECT_EQ(Sorted(runs), Sorted({
                                {kShifter, kShifter, kProgramFolder},
                                {std::string(kDataFolder) + "\\QLR6-38.exe",
                                 std::string(kDataFolder) + "\\QLR6-38.exe QLR", kDataFolder},
                                {kShifter, kShifter, kDataFolder},
                            }));
    ExpectLog(kBootstrapLog, {
                                 "Going to part 2",
                                 "Making TSLData Directories",
                                 "Directories exist",
                                 "This app name is: " + kBootstrap + " 11",
                                 "Transfer to: " + kStartup,
                                 "",
                                 "----------------- End ----------------------",
                                 "",
                             });

    const std::string user = UserName();
    const char* shellFolders = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    const std::string desktop = RegistryText(HKEY_CURRENT_USER, shellFolders, "Desktop");
    const std::string startMenu = RegistryText(HKEY_CURRENT_USER, shellFolders, "Start Menu");
    ExpectLog(kStartupLog, {
                               "Foundation loaded.  Starting Existing Program",
                               "TSL pdir = C:\\TSLData\\QLR",
                               "pdir = C:\\TSLData\\QLR",
                               "prog = QLR6-38.exe",
                               "Found QLR6-38",
                               "User Dir: c:\\TSLData\\" + user + "\\QLR\\Options.txt",
                               "StartProg Prog: QLR6-38.exe",
                               "StartProg Dir: C:\\TSLData\\QLR",
                               "Adding parameter",
                               "App Name = TOVANEL.EXE",
                               "App is TN/QLR.   pdir = C:\\TSLData\\QLR  prog = C:\\TSLData\\QLR\\QLR6-38.exe QLR",
                               "StartProg Starting: C:\\TSLData\\QLR\\QLR6-38.exe QLR",
                               "Going to part 2",
                               "Making TSLData Directories",
                               "Directories exist",
                               "This app name is: " + kStartup + " 11",
                               "------------- Start Pt 2 --------------",
                               "Foundation already loaded",
                               "Accessing cloud",
                               "Have: 6-38   Available from cloud: 6-38",
                               "Nothing to do",
                               "Creating Shortcuts",
                               "Created Shortcut for " + desktop + "\\Tovanel.lnk",
                               "Created Shortcut in Desktop",
                               "Created Shortcut for " + startMenu + "\\Tovanel.lnk",
                               "Created Shortcut in Start Menu",
                               "",
                               "----------------- End ----------------------",
                               "",
                           });
    EXPECT_EQ(server.Requests(), std::vector<std::string>{"/qlr/index.php?School=x&SMSID=x&USER=" + user});
}

TEST_F(RunControl, BootstrapWithoutDataFolderCopyStartsOnlyShifterAndRemovesObsoleteExecutables) {
    PlaceTovanel(kBootstrap);
    PlaceStandin(kShifter);
    for (const char* version : {"6-36", "6-37", "6-38", "6-39"})
        WriteBytes(std::string(kProgramFolder) + "\\QLR" + version + ".exe", "old");

    EXPECT_EQ(RunProgram(kBootstrap), 0u);
    const auto runs = WaitForRuns(1);
    EXPECT_TRUE(WaitForAllEnded());

    EXPECT_EQ(runs, (std::vector<StandinRun>{{kShifter, kShifter, kProgramFolder}}));
    ExpectLog(kBootstrapLog, {
                                 "Going to part 2",
                                 "Making TSLData Directories",
                                 "Directories exist",
                                 "This app name is: " + kBootstrap + " 11",
                                 "Transfer to: " + kStartup,
                                 "Trying to start transfer to TSLData but " + kStartup + " file does not exist",
                                 "",
                                 "----------------- End ----------------------",
                                 "",
                             });
    for (const char* version : {"6-36", "6-37", "6-38"})
        EXPECT_FALSE(PathExists(std::string(kProgramFolder) + "\\QLR" + version + ".exe")) << version;
    EXPECT_TRUE(PathExists(std::string(kProgramFolder) + "\\QLR6-39.exe"));
    EXPECT_FALSE(PathExists(kStartupLog));
}

TEST_F(RunControl, LogThatCannotBeSavedIsReportedInTheTempFolderAndTheRunStillEnds) {
    PlaceTovanel(kBootstrap);
    PlaceStandin(kShifter);
    WriteBytes("C:\\Temp\\QLR", "a file where the log folder belongs");

    EXPECT_EQ(RunProgram(kBootstrap), 0u);
    const auto runs = WaitForRuns(1);
    EXPECT_TRUE(WaitForAllEnded());

    EXPECT_EQ(runs, (std::vector<StandinRun>{{kShifter, kShifter, kProgramFolder}}));
    char temp[MAX_PATH + 1] = {};
    ASSERT_NE(::GetTempPathA(sizeof temp, temp), 0u);
    const auto report = ReadBytes(std::string(temp) + "Tovanel failure.txt");
    ASSERT_TRUE(report) << "no failure report in " << temp;
    const std::string head = "The run log could not be saved to c:\\Temp\\QLR\\InstallLog Bootstrap.txt";
    EXPECT_EQ(report->substr(0, head.size()), head);
    EXPECT_NE(report->find("\r\nTransfer to: " + kStartup + "\r\n"), std::string::npos) << *report;
    EXPECT_NE(report->find("\r\n----------------- End ----------------------\r\n\r\n"), std::string::npos);
}

}  // namespace
}  // namespace qlr::testing
