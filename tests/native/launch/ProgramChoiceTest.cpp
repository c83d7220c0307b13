// Which installed version starts, with which argument: whole start-ups on a
// sandbox machine, reading the early launch's log lines and the started program.

#include <gtest/gtest.h>

#include <algorithm>

#include "native/support/SandboxMachine.h"

namespace qlr::testing {
namespace {

const std::string kPF = "C:\\Program Files\\Tessaly\\Quillory";
const std::string kTSL = "C:\\TSLData\\QLR";

struct ChoiceCase {
    const char* name;
    std::vector<std::string> programFolderFiles;
    std::vector<std::string> dataFolderFiles;
    std::string options;                     // Options.txt, or empty for none
    std::string ownPath;                     // where this program runs from
    std::vector<std::string> expectedLines;  // between the secondary-startup check and "Going to part 2"
    std::string expectedRun;                 // standin record of the started application
};

void PrintTo(const ChoiceCase& c, std::ostream* out) { *out << c.name; }

std::vector<std::string> Lines(std::initializer_list<std::vector<std::string>> blocks) {
    std::vector<std::string> all;
    for (const auto& b : blocks) all.insert(all.end(), b.begin(), b.end());
    return all;
}

std::vector<std::string> Start(const std::string& have, const std::vector<std::string>& selected,
                               const std::string& prog, const std::string& dir) {
    auto lines = Lines({{"Found QLR" + have, "User Dir: c:\\TSLData\\office\\QLR\\Options.txt"}, selected});
    lines.push_back("StartProg Prog: " + prog);
    lines.push_back("StartProg Dir: " + dir);
    lines.push_back("Adding parameter");
    return lines;
}

std::vector<std::string> TovanelKind(const std::string& dir, const std::string& prog) {
    const std::string command = dir + "\\" + prog + " QLR";
    return {"App Name = TOVANEL.EXE", "App is TN/QLR.   pdir = " + dir + "  prog = " + command,
            "StartProg Starting: " + command};
}

std::string Record(const std::string& path, const std::string& commandLine) {
    return path + " | " + commandLine + " | " + kTSL;
}

const std::string kData = kTSL + "\\Tovanel.exe";

const ChoiceCase kCases[] = {
    {"DataFolderWinsOverProgramFolder",
     {"QLR6-35.exe", "QLR6-37.exe"},
     {"QLR6-38.exe"},
     "",
     kData,
     Lines({{"PF pdir = " + kPF, "TSL pdir = " + kTSL, "pdir = " + kTSL, "prog = QLR6-38.exe"},
            Start("6-38", {}, "QLR6-38.exe", kTSL),
            TovanelKind(kTSL, "QLR6-38.exe")}),
     Record(kTSL + "\\QLR6-38.exe", kTSL + "\\QLR6-38.exe QLR")},
    {"EqualNamesKeepTheProgramFolderCopy",
     {"QLR6-40.exe"},
     {"QLR6-40.exe"},
     "",
     kData,
     Lines({{"PF pdir = " + kPF, "pdir = " + kPF, "prog = QLR6-40.exe"},
            Start("6-40", {}, "QLR6-40.exe", kPF),
            TovanelKind(kPF, "QLR6-40.exe")}),
     Record(kPF + "\\QLR6-40.exe", kPF + "\\QLR6-40.exe QLR")},
    {"NamesCompareByCharacterNotNumber",
     {},
     {"QLR6-38.exe", "QLR6-9.exe"},
     "",
     kData,
     Lines({{"TSL pdir = " + kTSL, "pdir = " + kTSL, "prog = QLR6-9.exe"},
            Start("6-9", {}, "QLR6-9.exe", kTSL),
            TovanelKind(kTSL, "QLR6-9.exe")}),
     Record(kTSL + "\\QLR6-9.exe", kTSL + "\\QLR6-9.exe QLR")},
    {"UseVersionNamesAnInstalledFile",
     {},
     {"QLR6-37.exe", "QLR6-38.exe"},
     "SchoolName=S\r\nUseVersion=QLR6-37.exe\r\n",
     kData,
     Lines({{"TSL pdir = " + kTSL, "pdir = " + kTSL, "prog = QLR6-38.exe"},
            Start("6-38", {"User has selected version: QLR6-37.exe"}, "QLR6-37.exe", kTSL),
            TovanelKind(kTSL, "QLR6-37.exe")}),
     Record(kTSL + "\\QLR6-37.exe", kTSL + "\\QLR6-37.exe QLR")},
    {"UseVersionLatestMissingOrBlankKeepsTheHighest",
     {},
     {"QLR6-37.exe", "QLR6-38.exe"},
     "UseVersion=Latest\nUseVersion=latest\nUseVersion = QLR6-37.exe\n",
     kData,
     Lines({{"TSL pdir = " + kTSL, "pdir = " + kTSL, "prog = QLR6-38.exe"},
            Start("6-38", {}, "QLR6-38.exe", kTSL),
            TovanelKind(kTSL, "QLR6-38.exe")}),
     Record(kTSL + "\\QLR6-38.exe", kTSL + "\\QLR6-38.exe QLR")},
    {"LastAcceptedUseVersionWins",
     {},
     {"QLR6-36.exe", "QLR6-37.exe", "QLR6-38.exe"},
     "UseVersion=QLR6-36.exe\rUseVersion=QLR6-37.exe\rUseVersion=QLR6-99.exe\r",
     kData,
     Lines({{"TSL pdir = " + kTSL, "pdir = " + kTSL, "prog = QLR6-38.exe"},
            Start("6-38", {"User has selected version: QLR6-36.exe", "User has selected version: QLR6-37.exe"},
                  "QLR6-37.exe", kTSL),
            TovanelKind(kTSL, "QLR6-37.exe")}),
     Record(kTSL + "\\QLR6-37.exe", kTSL + "\\QLR6-37.exe QLR")},
    {"PexilGetsItsKind",
     {},
     {"QLR6-38.exe"},
     "",
     kTSL + "\\Pexil.exe",
     Lines({{"TSL pdir = " + kTSL, "pdir = " + kTSL, "prog = QLR6-38.exe"},
            Start("6-38", {}, "QLR6-38.exe", kTSL),
            {"App Name = PEXIL.EXE", "App is Pexil.   pdir = " + kTSL + "  prog = " + kTSL + "\\QLR6-38.exe Pexil",
             "StartProg Starting: " + kTSL + "\\QLR6-38.exe Pexil"}}),
     Record(kTSL + "\\QLR6-38.exe", kTSL + "\\QLR6-38.exe Pexil")},
    {"QuenmoralGetsItsKind",
     {},
     {"QLR6-38.exe"},
     "",
     "C:\\Apps\\Quenmoral.exe",
     Lines({{"TSL pdir = " + kTSL, "pdir = " + kTSL, "prog = QLR6-38.exe"},
            Start("6-38", {}, "QLR6-38.exe", kTSL),
            {"App Name = QUENMORAL.EXE",
             "App is Quenm.   pdir = " + kTSL + "  prog = " + kTSL + "\\QLR6-38.exe Quenmoral",
             "StartProg Starting: " + kTSL + "\\QLR6-38.exe Quenmoral"}}),
     Record(kTSL + "\\QLR6-38.exe", kTSL + "\\QLR6-38.exe Quenmoral")},
    {"NoKindStartsTheBareNameFromTheCurrentFolder",
     {},
     {"QLR6-38.exe"},
     "",
     "C:\\Apps\\Updater.exe",
     Lines({{"TSL pdir = " + kTSL, "pdir = " + kTSL, "prog = QLR6-38.exe"},
            Start("6-38", {}, "QLR6-38.exe", kTSL),
            {"App Name = UPDATER.EXE", "StartProg Starting: QLR6-38.exe"}}),
     Record(kTSL + "\\QLR6-38.exe", "QLR6-38.exe")},
};

class ProgramChoice : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(ProgramChoice, StartsTheChosenVersionWithItsKind) {
    const ChoiceCase& c = GetParam();
    SandboxMachine machine;
    machine.PlaceFoundation();
    // A program at the start of the program folder's path must never be the one started.
    machine.PlaceStandin("C:\\Program.exe");
    for (const auto& f : c.programFolderFiles) machine.PlaceStandin(kPF + "\\" + f);
    for (const auto& f : c.dataFolderFiles) machine.PlaceStandin(kTSL + "\\" + f);
    if (!c.options.empty()) machine.Write("C:\\TSLData\\office\\QLR\\Options.txt", c.options);
    if (c.ownPath != kData) machine.PlaceTovanel(c.ownPath);

    auto run = machine.Run(c.ownPath);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    std::string role = c.ownPath.find("TSLData") != std::string::npos ? "Startup" : "Bootstrap";
    auto lines = CrLfLines(machine.Log(role));
    auto begin = std::find(lines.begin(), lines.end(), "Foundation loaded.  Starting Existing Program");
    auto end = std::find(lines.begin(), lines.end(), "Going to part 2");
    ASSERT_NE(begin, lines.end());
    ASSERT_NE(end, lines.end());
    EXPECT_EQ(std::vector<std::string>(begin + 1, end), c.expectedLines);
    auto runs = machine.StandinRuns(1);
    ASSERT_FALSE(runs.empty());
    EXPECT_EQ(runs.front(), c.expectedRun);
}

INSTANTIATE_TEST_SUITE_P(Cases, ProgramChoice, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ProgramChoiceStartUp, ObsoleteProgramFolderVersionsAreDeletedBeforeTheChoice) {
    SandboxMachine machine;
    machine.PlaceFoundation();
    for (const char* f : {"QLR6-36.exe", "QLR6-37.exe", "QLR6-38.exe", "QLR6-39.exe"})
        machine.PlaceStandin(kPF + "\\" + f);
    machine.Run(kData);
    EXPECT_FALSE(machine.Exists(kPF + "\\QLR6-36.exe"));
    EXPECT_FALSE(machine.Exists(kPF + "\\QLR6-37.exe"));
    EXPECT_FALSE(machine.Exists(kPF + "\\QLR6-38.exe"));
    EXPECT_TRUE(machine.Exists(kPF + "\\QLR6-39.exe"));
}

TEST(ProgramChoiceStartUp, NoInstalledVersionStartsNothingEarly) {
    SandboxMachine machine;
    machine.PlaceFoundation();
    auto run = machine.Run(kData);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    auto lines = CrLfLines(machine.Log("Startup"));
    auto begin = std::find(lines.begin(), lines.end(), "Foundation loaded.  Starting Existing Program");
    ASSERT_NE(begin, lines.end());
    EXPECT_EQ(std::vector<std::string>(begin + 1, begin + 4),
              (std::vector<std::string>{"pdir = ", "prog = ", "Going to part 2"}));
}

}  // namespace
}  // namespace qlr::testing
