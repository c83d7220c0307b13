#include "app/main.h"
#include "base/SmallFile.h"
#include "base/Text.h"

namespace qlr {

namespace {
// "QLR6-38.exe" -> "6-38": from the fourth character, without the last four.
std::string VersionLabel(const std::string& executable) {
    if (executable.size() <= 7) return std::string();
    return executable.substr(3, executable.size() - 7);
}

struct ApplicationKind {
    bool (*matches)(const std::string& upperName);
    const char* argument;
    const char* logLine;
};

constexpr ApplicationKind kKinds[] = {
    {[](const std::string& n) { return Contains(n, "TOVANEL") || Contains(n, "QLR"); }, " QLR",
     "App is TN/QLR.   pdir = "},
    {[](const std::string& n) { return Contains(n, "PEXIL"); }, " Pexil", "App is Pexil.   pdir = "},
    {[](const std::string& n) { return Contains(n, "QUENMORAL"); }, " Quenmoral", "App is Quenm.   pdir = "},
};
}  // namespace

void TForm1::FindHighestProgram() {
    ChosenProgram.clear();
    HaveVersion.clear();
    ProgramFolder.clear();
    FL.Mask = "QLR6*.exe";

    auto choose = [this](const char* tag) {
        ChosenProgram = FL.Items().back();
        HaveVersion = VersionLabel(ChosenProgram);
        Edit3.SetText(HaveVersion);
        ProgramFolder = FL.Directory();
        AddLogLine(tag + ProgramFolder);
    };
    if (platform_.FolderExists(paths::ProgramFolder)) {
        FL.SetDirectory(paths::ProgramFolder);
        FL.Update();
        if (!FL.Items().empty()) choose("PF pdir = ");
    }
    if (platform_.FolderExists(paths::DataFolder)) {
        FL.SetDirectory(paths::DataFolder);
        FL.Update();
        // Between the folders the order is ordinal; on equal names the program folder's copy stays.
        if (!FL.Items().empty() && OrdinalGreater(FL.Items().back(), ChosenProgram)) choose("TSL pdir = ");
    }
    AddLogLine("pdir = " + ProgramFolder);
    ChosenProgram = ExtractFileName(ChosenProgram);
    AddLogLine("prog = " + ChosenProgram);
}

bool TForm1::StartChosenProgram() {
    try {
        FindHighestProgram();
        if (ChosenProgram.empty()) return false;
        AddLogLine("Found QLR" + HaveVersion);
        RepaintLog();

        const std::string userFolder = "c:\\TSLData\\" + CurrentUserName() + "\\QLR";
        const std::string optionsFile = userFolder + "\\Options.txt";
        AddLogLine("User Dir: " + optionsFile);
        if (platform_.FileExists(optionsFile)) {
            for (const std::string& line : ReadTextLines(platform_, optionsFile)) {
                if (!Contains(line, "UseVersion")) continue;
                const std::string value = OptionValue(line);
                if (value != "Latest" && platform_.FileExists(FL.Directory() + "\\" + value)) {
                    ChosenProgram = value;
                    AddLogLine("User has selected version: " + value);
                }
            }
        }
        AddLogLine("StartProg Prog: " + ChosenProgram);
        AddLogLine("StartProg Dir: " + ProgramFolder);
        AddLogLine("Adding parameter");
        const std::string appName = UpperCase(ExtractFileName(platform_.OwnPath()));
        AddLogLine("App Name = " + appName);
        for (const ApplicationKind& kind : kKinds) {
            if (!kind.matches(appName)) continue;
            ChosenProgram = ProgramFolder + "\\" + ChosenProgram + kind.argument;
            AddLogLine(kind.logLine + ProgramFolder + "  prog = " + ChosenProgram);
        }
        Edit1.SetText(ChosenProgram);
        AddLogLine("StartProg Starting: " + ChosenProgram);
        return StartProcess(ChosenProgram);
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace qlr
