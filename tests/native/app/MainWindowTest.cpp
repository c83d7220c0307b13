// The main window's own rules, exercised in-process over a sandbox machine:
// run-log line breaks, options file values, text comparison, process waits.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "app/main.h"
#include "base/Text.h"
#include "native/support/SandboxMachine.h"

namespace qlr::testing {
namespace {

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override { form.Memo3.Clear(); }  // as start-up does
    SandboxMachine machine;
    TForm1 form{machine.platform()};
};

struct LogStep {
    bool append;  // AppendLogText, else AddLogLine
    std::string text;
};

struct LogCase {
    const char* name;
    std::vector<LogStep> steps;
    std::string expected;
};

void PrintTo(const LogCase& c, std::ostream* out) { *out << c.name; }

const LogCase kLogCases[] = {
    {"LinesEndWithCrLf", {{false, "a"}, {false, "b"}}, "a\r\nb\r\n"},
    {"EmptyLineOnEmptyLog", {{false, ""}}, "\r\n"},
    {"SuffixAfterLineStandsAlone",
     {{false, "Program Loaded, decompressing files"}, {true, "... OK"}},
     "Program Loaded, decompressing files\r\n... OK"},
    {"AppendOnEmptyLog", {{true, "... OK"}}, "... OK"},
    {"EmptyLineAfterSuffixOnlyEndsIt", {{true, "... OK"}, {false, ""}, {false, "x"}}, "... OK\r\nx\r\n"},
    {"LineAfterSuffixStartsNewLine", {{false, "a"}, {true, "b"}, {false, "c"}}, "a\r\nb\r\nc"},
    {"BareBreaksBecomeCrLf",
     {{false, "End"}, {true, "one\ntwo\rthree\n\rfour\r\n"}},
     "End\r\none\r\ntwo\r\nthree\r\n\r\nfour\r\n"},
    {"AppendNormalisesTheWholeLog", {{false, "a\nb"}, {true, ""}}, "a\r\nb\r\n"},
};

class RunLogRules : public MainWindow, public ::testing::WithParamInterface<LogCase> {};

TEST_P(RunLogRules, BuildsTheLogText) {
    for (const auto& step : GetParam().steps) {
        if (step.append)
            form.AppendLogText(step.text);
        else
            form.AddLogLine(step.text);
    }
    EXPECT_EQ(form.Memo3.Text(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, RunLogRules, ::testing::ValuesIn(kLogCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(MainWindow, SavedLogIsTheTextByteForByte) {
    machine.MakeFolders("C:\\Temp\\QLR");
    form.AddLogLine("line");
    form.AppendLogText("message\nwith break");
    form.SaveLog("c:\\Temp\\QLR\\InstallLog Startup.txt");
    EXPECT_EQ(machine.Read("C:\\Temp\\QLR\\InstallLog Startup.txt"), "line\r\nmessage\r\nwith break");
    form.AddLogLine("second");
    form.SaveLog("c:\\Temp\\QLR\\InstallLog Startup.txt");  // replaces the earlier file
    EXPECT_EQ(machine.Read("C:\\Temp\\QLR\\InstallLog Startup.txt"), "line\r\nmessage\r\nwith break\r\nsecond");
}

TEST_F(MainWindow, DesignTextsOfTheControls) {
    EXPECT_EQ(form.Edit1.Text(), "Edit1");
    EXPECT_EQ(form.Edit10.Text(), "Edit10");
    EXPECT_EQ(form.Edit11.Text(), "Edit8");
    EXPECT_EQ(form.Memo1.Text(), "Memo1");
    EXPECT_EQ(form.Caption, "QLR Updater");
    EXPECT_EQ(form.FL.Mask, "QLR*.exe");
}

struct OptionsCase {
    const char* name;
    const char* content;  // nullptr: no options file
    const char* school;
    const char* smsid;
};

void PrintTo(const OptionsCase& c, std::ostream* out) { *out << c.name; }

const OptionsCase kOptionsCases[] = {
    {"NoFile", nullptr, "x", "x"},
    {"BothKeys", "SchoolName=Example School\r\nSMSID=A-17\r\n", "Example School", "A-17"},
    {"NoEqualsTakesTheWholeLine", "SchoolName\r\n", "SchoolName", "x"},
    {"OneLineForBothKeys", "SchoolName=SMSID Arts Academy\r\n", "SMSID Arts Academy", "SMSID Arts Academy"},
    {"LaterLineWinsEvenAsPartOfAnotherName", "SchoolName=Real\nOldSchoolName=Old\n", "Old", "x"},
    {"KeysAreCaseSensitive", "schoolname=lower\nsmsid=lower\n", "x", "x"},
    {"ValueKeepsBlanksAndLaterEquals", "SMSID = a=b \r\n", "x", " a=b "},
    {"LoneCrEndsLines", "SchoolName=One\rSMSID=Two\r", "One", "Two"},
};

class OptionsFile : public MainWindow, public ::testing::WithParamInterface<OptionsCase> {};

TEST_P(OptionsFile, GivesSchoolNameAndServiceIdentifier) {
    if (GetParam().content) machine.Write("C:\\TSLData\\office\\QLR\\Options.txt", GetParam().content);
    std::string school, smsid;
    form.ReadOptions(school, smsid);
    EXPECT_EQ(school, GetParam().school);
    EXPECT_EQ(smsid, GetParam().smsid);
}

INSTANTIATE_TEST_SUITE_P(Cases, OptionsFile, ::testing::ValuesIn(kOptionsCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(MainWindow, ValueIsCutAt999Characters) {
    machine.Write("C:\\TSLData\\office\\QLR\\Options.txt", "SchoolName=" + std::string(1500, 'a'));
    std::string school, smsid;
    form.ReadOptions(school, smsid);
    EXPECT_EQ(school, std::string(999, 'a'));
}

TEST(OrdinalText, ComparesBytesNotNumbers) {
    EXPECT_TRUE(OrdinalGreater("QLR6-40", "QLR6-39"));
    EXPECT_TRUE(OrdinalGreater("QLR7-1", "QLR6-99"));
    EXPECT_TRUE(OrdinalGreater("QLR6-9", "QLR6-39"));
    EXPECT_FALSE(OrdinalGreater("QLR10-1", "QLR9-1"));
    EXPECT_FALSE(OrdinalGreater("6-38", "6-38"));
    EXPECT_TRUE(OrdinalGreater("a", ""));
    EXPECT_TRUE(OrdinalGreater("6-38x", "6-38"));
    EXPECT_TRUE(OrdinalGreater("\xe9", "z"));  // unsigned bytes
    EXPECT_EQ(UpperCase("c:\\tsldata\\qlr\\\xe9t\xe9.exe"), "C:\\TSLDATA\\QLR\\\xe9T\xe9.EXE");
}

class ProcessWait : public MainWindow {
protected:
    void SetUp() override {
        MainWindow::SetUp();
        machine.PlaceStandin("C:\\Tools\\worker.exe");
    }
    void TearDown() override {
        unsetenv("QLR_STANDIN_EXIT");
        unsetenv("QLR_STANDIN_HANG");
    }
};

TEST_F(ProcessWait, MissingProgramIsNotStarted) {
    EXPECT_FALSE(form.StartProcessAndWait("C:\\Tools\\missing.exe"));
    EXPECT_FALSE(form.StartProcess("C:\\Tools\\missing.exe now"));
}

TEST_F(ProcessWait, ProgramExitingWith259StillEndsTheWait) {
    setenv("QLR_STANDIN_EXIT", "259", 1);
    EXPECT_TRUE(form.StartProcessAndWait("C:\\Tools\\worker.exe >NULL"));
    EXPECT_EQ(machine.StandinRuns(1),
              (std::vector<std::string>{"C:\\Tools\\worker.exe | C:\\Tools\\worker.exe >NULL | C:\\"}));
    EXPECT_FALSE(machine.Exists("C:\\NULL"));
}

TEST_F(ProcessWait, ProgramPathWithBlanksStartsThatProgramOrNone) {
    const std::string pf = "C:\\Program Files\\Tessaly\\Quillory\\";
    machine.PlaceStandin(pf + "QLR6-40.exe");
    machine.PlaceStandin("C:\\TSLData\\QLR\\QLR Setup.exe");
    // What the system's rules would start first for each of those lines.
    machine.PlaceStandin("C:\\Program.exe");
    machine.PlaceStandin("C:\\TSLData\\QLR\\QLR.exe");
    struct Case {
        std::string commandLine;
        bool wait;
        std::string started;  // the program, or empty for none
    };
    const Case cases[] = {
        {pf + "QLR6-40.exe QLR", false, pf + "QLR6-40.exe"},
        {pf + "QLR6-40.exe QLR", true, pf + "QLR6-40.exe"},
        {pf + "qlr6-40.EXE  Pexil >NULL", false, pf + "QLR6-40.exe"},
        {"C:\\TSLData\\QLR\\QLR Setup.exe", false, "C:\\TSLData\\QLR\\QLR Setup.exe"},
        {pf + "QLR6-41.exe QLR", false, ""},
        {pf + "QLR6-41.exe QLR", true, ""},
    };
    std::size_t records = 0;
    for (const Case& c : cases) {
        const bool started = c.wait ? form.StartProcessAndWait(c.commandLine) : form.StartProcess(c.commandLine);
        EXPECT_EQ(started, !c.started.empty()) << c.commandLine;
        if (!started) continue;
        const auto runs = machine.StandinRuns(++records);
        ASSERT_EQ(runs.size(), records) << c.commandLine;
        EXPECT_EQ(runs.back(), c.started + " | " + c.commandLine + " | C:\\");
    }
    EXPECT_EQ(machine.StandinRuns().size(), records) << "a program nobody asked for was started";
}

TEST_F(ProcessWait, TerminateRequestEndsTheWaitAndLeavesTheProgram) {
    setenv("QLR_STANDIN_HANG", "worker.exe:5", 1);
    machine.platform().Terminate();
    auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(form.StartProcessAndWait("C:\\Tools\\worker"));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
    EXPECT_EQ(machine.StandinRuns(1).size(), 1u);
}

}  // namespace
}  // namespace qlr::testing
