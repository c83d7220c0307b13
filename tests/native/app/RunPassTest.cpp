// Whole runs from each role on a sandbox machine, read back as a user would:
// the saved run logs byte for byte and the programs that were started.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <regex>

#include "native/support/SandboxMachine.h"

namespace qlr::testing {
namespace {

const std::string kDataCopy = "C:\\TSLData\\QLR\\Tovanel.exe";
const std::string kProgramFilesCopy = "C:\\Program Files\\Tessaly\\Quillory\\Tovanel.exe";
const std::string kListUrl = std::string(kUnreachableServer) + "index.php?School=x&SMSID=x&USER=office";

std::vector<std::string> StartUpLines(const std::string& ownName) {
    return {"Updater Version 11, <date> " + ownName, "Deleteing 6-36 files", "Extracting this application name",
            "Checking if this is secondary startup"};
}

std::vector<std::string> EarlyLaunchLines(const std::string& ownName = "TOVANEL.EXE") {
    return {"Foundation loaded.  Starting Existing Program",
            "TSL pdir = C:\\TSLData\\QLR",
            "pdir = C:\\TSLData\\QLR",
            "prog = QLR6-38.exe",
            "Found QLR6-38",
            "User Dir: c:\\TSLData\\office\\QLR\\Options.txt",
            "StartProg Prog: QLR6-38.exe",
            "StartProg Dir: C:\\TSLData\\QLR",
            "Adding parameter",
            "App Name = " + ownName,
            "App is TN/QLR.   pdir = C:\\TSLData\\QLR  prog = C:\\TSLData\\QLR\\QLR6-38.exe QLR",
            "StartProg Starting: C:\\TSLData\\QLR\\QLR6-38.exe QLR"};
}

std::vector<std::string> PassHead(const std::string& ownPath) {
    return {"Going to part 2", "Making TSLData Directories", "Directories exist",
            "This app name is: " + ownPath + " 11"};
}

// Part 2 on a machine with the foundation, the application started early and no server.
std::vector<std::string> UnreachableServerPass() {
    return {"------------- Start Pt 2 --------------", "Foundation already loaded", "Accessing cloud",
            "Unexpected Exception encountered ...FAILED (2)"};
}

std::string Joined(const std::vector<std::vector<std::string>>& blocks, const std::string& tail) {
    std::string text;
    for (const auto& block : blocks)
        for (const auto& line : block) text += line + "\r\n";
    return text + "\r\n----------------- End ----------------------\r\n\r\n" + tail;
}

// The version line carries the local date and time; the rest must match byte for byte.
void ExpectLog(const std::string& actual, const std::string& expected) {
    auto cut = expected.find("<date>");
    ASSERT_NE(cut, std::string::npos);
    ASSERT_GE(actual.size(), cut);
    EXPECT_EQ(actual.substr(0, cut), expected.substr(0, cut));
    std::smatch date;
    std::string rest = actual.substr(cut);
    ASSERT_TRUE(std::regex_search(rest, date, std::regex(R"(^\d\d/\d\d/\d{4}( \d\d:\d\d:\d\d)?)")))
        << "no date in: " << actual.substr(0, 120);
    EXPECT_EQ(rest.substr(date.length()), expected.substr(cut + 6));
}

class RunControl : public ::testing::Test {
protected:
    void SetUp() override {
        machine.PlaceStandin("C:\\TSLData\\QLR\\QLR6-38.exe");
        machine.PlaceStandin("C:\\TSLData\\QLR\\Shifter.exe");
    }
    SandboxMachine machine;
};

TEST_F(RunControl, StartupWithFoundationStartsTheApplicationAtOnceAndSavesItsLog) {
    machine.PlaceFoundation();
    auto run = machine.Run(kDataCopy);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    ExpectLog(machine.Log("Startup"),
              Joined({StartUpLines("Tovanel.exe"), EarlyLaunchLines(), PassHead(kDataCopy), UnreachableServerPass()},
                     "Cannot open URL: " + kListUrl));
    // Both run at the same time; either may record first.
    EXPECT_THAT(machine.StandinRuns(2),
                ::testing::UnorderedElementsAre(
                    "C:\\TSLData\\QLR\\QLR6-38.exe | C:\\TSLData\\QLR\\QLR6-38.exe QLR | C:\\TSLData\\QLR",
                    "C:\\TSLData\\QLR\\Shifter.exe | C:\\TSLData\\QLR\\Shifter.exe | C:\\TSLData\\QLR"));
    EXPECT_FALSE(machine.HasLog("Setup"));
    EXPECT_FALSE(machine.HasLog("Bootstrap"));
}

TEST_F(RunControl, BootstrapHandsOverToTheDataFolderCopy) {
    machine.PlaceFoundation();
    machine.PlaceTovanel(kProgramFilesCopy);
    auto run = machine.Run(kProgramFilesCopy);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    ExpectLog(machine.Log("Bootstrap"),
              Joined({StartUpLines("Tovanel.exe"), PassHead(kProgramFilesCopy), {"Transfer to: " + kDataCopy}}, ""));
    ASSERT_TRUE(machine.WaitForLog("Startup"));
    ExpectLog(machine.Log("Startup"),
              Joined({StartUpLines("Tovanel.exe"), EarlyLaunchLines(), PassHead(kDataCopy), UnreachableServerPass()},
                     "Cannot open URL: " + kListUrl));
    auto runs = machine.StandinRuns(3);
    ASSERT_EQ(runs.size(), 3u);
    // Bootstrap's Shifter, the application and the Startup copy's Shifter, in whatever order they ran.
    EXPECT_EQ(std::count(runs.begin(), runs.end(),
                         "C:\\TSLData\\QLR\\Shifter.exe | C:\\TSLData\\QLR\\Shifter.exe | C:\\TSLData\\QLR"),
              1);
    EXPECT_EQ(std::count(runs.begin(), runs.end(),
                         "C:\\TSLData\\QLR\\QLR6-38.exe | C:\\TSLData\\QLR\\QLR6-38.exe QLR | C:\\TSLData\\QLR"),
              1);
}

TEST_F(RunControl, BootstrapWithoutDataFolderCopyStartsNothing) {
    machine.PlaceTovanel(kProgramFilesCopy);
    machine.Write("C:\\SchoolData\\mydata.ib", "db");
    auto run = machine.Run(kProgramFilesCopy);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    ExpectLog(machine.Log("Bootstrap"),
              Joined({StartUpLines("Tovanel.exe"),
                      PassHead(kProgramFilesCopy),
                      {"Transfer to: " + kDataCopy,
                       "Trying to start transfer to TSLData but " + kDataCopy + " file does not exist"}},
                     ""));
    EXPECT_FALSE(machine.HasLog("Startup"));
    // Shifter.exe is still started at the end.
    EXPECT_EQ(machine.StandinRuns(1).size(), 1u);
}

struct RolePath {
    const char* name;
    const char* path;
    const char* logRole;
    bool transfer;
};

void PrintTo(const RolePath& role, std::ostream* out) { *out << role.name; }

class RolesByPath : public RunControl, public ::testing::WithParamInterface<RolePath> {};

TEST_P(RolesByPath, PathDecidesEarlyLaunchBranchAndLogName) {
    const RolePath role = GetParam();
    machine.PlaceFoundation();
    machine.PlaceTovanel(role.path);
    auto run = machine.Run(role.path);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    std::vector<std::vector<std::string>> blocks = {StartUpLines("Tovanel.exe"), EarlyLaunchLines(),
                                                    PassHead(role.path)};
    if (role.transfer)
        blocks.push_back({"Transfer to: " + kDataCopy});
    else
        blocks.push_back(UnreachableServerPass());
    ExpectLog(machine.Log(role.logRole), Joined(blocks, role.transfer ? "" : "Cannot open URL: " + kListUrl));
    if (role.transfer) {
        EXPECT_TRUE(machine.WaitForLog("Startup"));  // the handed-over copy ran
    }
}

INSTANTIATE_TEST_SUITE_P(Roles, RolesByPath,
                         ::testing::Values(RolePath{"SetupFolder", "C:\\Downloads\\SETUP\\Tovanel.exe", "Setup", false},
                                           RolePath{"ShortProgramFilesName",
                                                    "C:\\PROGRA~1\\Tessaly\\Quillory\\Tovanel.exe", "Bootstrap", false},
                                           RolePath{"ProgramFileInAnyFolderName",
                                                    "C:\\Program File Copies\\Tovanel.exe", "Bootstrap", true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RunControl, OptionsFileThatCannotBeReadEndsTheLogWithTheError) {
    machine.PlaceFoundation();
    machine.Write("C:\\TSLData\\office\\QLR\\Options.txt", "SchoolName=Example School\r\n");
    machine.Deny("file C:\\TSLData\\office\\QLR\\Options.txt");
    auto run = machine.Run(kDataCopy);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    const std::string log = machine.Log("Startup");
    // The early launch swallows the error and starts nothing; the pass reports it.
    EXPECT_EQ(log.find("StartProg Starting"), std::string::npos);
    const std::string tail =
        "------------- Start Pt 2 --------------\r\n"
        "Foundation already loaded\r\n"
        "Unexpected Exception encountered ...FAILED (2)\r\n"
        "\r\n----------------- End ----------------------\r\n\r\n"
        "Cannot open file c:\\TSLData\\office\\QLR\\Options.txt";
    ASSERT_GE(log.size(), tail.size());
    EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
}

TEST_F(RunControl, VerboseRunEchoesEveryLogLineAndQuietRunPrintsNothing) {
    machine.PlaceFoundation();
    auto quiet = machine.Run(kDataCopy);
    EXPECT_EQ(quiet.output, "");
    auto verbose = machine.Run(kDataCopy, {}, {"--verbose"});
    EXPECT_EQ(verbose.exitCode, 0) << verbose.output;
    for (const auto& line : CrLfLines(machine.Log("Startup"))) {
        if (line.rfind("Updater Version", 0) == 0) continue;  // its time moves on between runs
        EXPECT_NE(verbose.output.find(line), std::string::npos) << "not echoed: " << line;
    }
}

TEST_F(RunControl, LogThatCannotBeSavedIsReportedAndTheRunStillEnds) {
    machine.PlaceFoundation();
    machine.Deny("folder C:\\Temp\\QLR");
    auto run = machine.Run(kDataCopy);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_FALSE(machine.HasLog("Startup"));
    // Shifter.exe is still started after the application.
    EXPECT_EQ(machine.StandinRuns(2).size(), 2u);
    std::ifstream in(machine.Root() / "failure-report.txt", std::ios::binary);
    std::string report((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(report.find("InstallLog Startup.txt"), std::string::npos) << report;
    EXPECT_NE(report.find("Going to part 2"), std::string::npos) << report;
}

}  // namespace
}  // namespace qlr::testing
