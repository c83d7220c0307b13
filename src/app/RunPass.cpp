#include "app/main.h"

#include <algorithm>

#include "base/SmallFile.h"
#include "base/Text.h"

namespace qlr {

void TForm1::Timer1Timer() {
    Timer1.SetEnabled(false);  // first: messages run during waits must not start a second pass
    AddLogLine("Making TSLData Directories");
    platform_.MakeFolder("C:\\TSLData");
    platform_.MakeFolder("C:\\TSLData\\QLR");
    AddLogLine(platform_.FolderExists("C:\\TSLData\\QLR") ? "Directories exist" : "Directory not created....  FAILED ");
    ExpectedBytes = 10000000;
    BytesRead = 0;
    ExpectedFiles = 20;
    const std::string ownPath = platform_.OwnPath();
    AddLogLine("This app name is: " + ownPath + " " + std::to_string(UpdaterVersion));
    RepaintLog();
    const std::string dataFolderCopy = std::string(paths::DataFolder) + "\\" + ExtractFileName(ownPath);

    if (Contains(UpperCase(ownPath), "PROGRAM FILE")) {
        AddLogLine("Transfer to: " + dataFolderCopy);
        if (platform_.FileExists(dataFolderCopy)) {
            StartProcess(dataFolderCopy);
        } else {
            AddLogLine("Trying to start transfer to TSLData but " + dataFolderCopy + " file does not exist");
            RepaintLog();
        }
    } else {
        try {
            AddLogLine("------------- Start Pt 2 --------------");
            RepaintLog();
            if (!ProgramStarted) ShowProgressWindow();
            bool foundationReady = true;
            if (!TakeRunLock()) {
                foundationReady = false;  // another run does this machine's work: part 2 ends here
            } else if (FoundationPresent()) {
                AddLogLine("Foundation already loaded");
            } else {
                ExpectedBytes = 20000000;
                ExpectedFiles = 250;
                AddLogLine("Loading Foundation....");
                foundationReady = InstallFoundation();
                AddLogLine(foundationReady ? "   ... Foundation loaded OK" : "   ... Foundation load FAILED");
            }
            if (foundationReady) {
                std::string schoolName, smsid;
                ReadOptions(schoolName, smsid);
                CheckForUpdates(schoolName, smsid);
                if (platform_.FileExists(paths::StartupProgram)) {
                    AddLogLine("Creating Shortcuts");
                    MakeSuiteShortcuts();
                } else {
                    AddLogLine("Startup Program, Tovanel, has not loaded.  Cannot create shortcuts");
                }
                if (!ProgramStarted) {
                    CloseProgressWindow();
                    AddLogLine("Starting Program...");
                    StartChosenProgram();
                }
            }
        } catch (const std::exception& error) {
            AddLogLine("Unexpected Exception encountered ...FAILED (2)");
            Memo4.SetText(error.what());
        }
    }

    platform_.MakeFolder("c:\\Temp");
    platform_.MakeFolder("c:\\Temp\\QLR");
    AddLogLine("");
    AddLogLine("----------------- End ----------------------");
    AddLogLine("");
    AppendLogText(Memo4.Text());
    const std::string logFile = LogFileName();
    try {
        SaveLog(logFile);
    } catch (const std::exception& error) {
        // The log is the only report of the run: hand it on rather than lose it.
        platform_.ReportFailure("The run log could not be saved to " + logFile + " (" + error.what() + ").\r\n\r\n" +
                                Memo3.Text());
    }
    runLock_.reset();
    StartProcess("C:\\TSLData\\QLR\\Shifter.exe");
    platform_.Terminate();
}

bool TForm1::TakeRunLock() {
    // Two runs at once would share the downloaded package and the files being replaced.
    constexpr unsigned kWaitForOtherRunMs = 10 * 60 * 1000;
    runLock_ = platform_.LockMachine(0);
    if (runLock_) return true;
    AddLogLine("Waiting for another run to finish installing and updating");
    RepaintLog();
    runLock_ = platform_.LockMachine(kWaitForOtherRunMs);
    if (runLock_) return true;
    AddLogLine("Skipped installing and updating: the other run is still at it");
    return false;
}

std::string TForm1::LogFileName() {
    const std::string path = UpperCase(platform_.OwnPath());
    if (Contains(path, "TSLDATA")) return "c:\\Temp\\QLR\\InstallLog Startup.txt";
    if (Contains(path, "SETUP")) return "c:\\Temp\\QLR\\InstallLog Setup.txt";
    return "c:\\Temp\\QLR\\InstallLog Bootstrap.txt";
}

std::string TForm1::CurrentUserName() {
    // 254-character buffer, of which the call is told 253, null included.
    return platform_.UserName(253).value_or(std::string());
}

void TForm1::ReadOptions(std::string& schoolName, std::string& smsid) {
    const std::string unset(1, 'x');  // what the server sees when the options give no value
    schoolName = unset;
    smsid = unset;
    const std::string file = "c:\\TSLData\\" + CurrentUserName() + "\\QLR\\Options.txt";
    if (!platform_.FileExists(file)) return;
    for (const std::string& line : ReadTextLines(platform_, file)) {
        if (Contains(line, "SchoolName")) schoolName = OptionValue(line);
        if (Contains(line, "SMSID")) smsid = OptionValue(line);
    }
}

}  // namespace qlr
