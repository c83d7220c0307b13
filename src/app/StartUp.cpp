#include "app/main.h"
#include "base/Text.h"

namespace qlr {

namespace {
constexpr const char* kObsoleteExecutables[] = {
    "c:\\program files\\Tessaly\\Quillory\\QLR6-36.exe",
    "c:\\program files\\Tessaly\\Quillory\\QLR6-37.exe",
    "c:\\program files\\Tessaly\\Quillory\\QLR6-38.exe",
};
}  // namespace

void TForm1::FormCreate() {
    WindowBounds.left = OffScreenLeft;
    if (window_) window_->SetBounds(WindowBounds);
    platform_.MakeFolder("c:\\Temp");
    platform_.MakeFolder("c:\\Temp\\QLR");
    ProgramStarted = false;
    Memo2.Clear();
    Memo3.Clear();
    Memo4.Clear();

    WriteVersionLine();
    AddLogLine("Deleteing 6-36 files");
    RepaintLog();
    for (const char* file : kObsoleteExecutables)
        if (platform_.FileExists(file)) platform_.RemoveFile(file);

    AddLogLine("Extracting this application name");
    RepaintLog();
    const std::string ownPath = platform_.OwnPath();
    Caption = ExtractFileName(ownPath) + " Ver " + std::to_string(UpdaterVersion);
    if (window_) window_->SetText(Caption);

    AddLogLine("Checking if this is secondary startup");
    RepaintLog();
    // Before the application starts: never beside the files of a half-made commit.
    FinishInterruptedCommit();
    // The role is read from the path at each decision point, never stored.
    if (!Contains(UpperCase(ownPath), "PROGRAM FILES") && FoundationPresent()) {
        AddLogLine("Foundation loaded.  Starting Existing Program");
        ProgramStarted = StartChosenProgram();
    }
    AddLogLine("Going to part 2");
    RepaintLog();
    Timer1.SetEnabled(true);
}

void TForm1::WriteVersionLine() {
    UpdaterVersion = 11;
    AddLogLine("Updater Version " + std::to_string(UpdaterVersion) + ", " + platform_.LocalDateTimeText() + " " +
               ExtractFileName(platform_.OwnPath()));
    RepaintLog();
}

bool TForm1::FoundationPresent() {
    return platform_.FileExists(paths::StartupProgram) && platform_.FileExists(paths::SchoolDatabase);
}

}  // namespace qlr
