#include "app/main.h"
#include "install/RegistryText.h"
#include "update/UpdateServer.h"

namespace qlr {

namespace {

constexpr const char* kTempFolder = "C:\\Temp\\QLR";
constexpr const char* kHelpFolder = "c:\\program files\\Tessaly\\Quillory\\HelpFiles";
constexpr const char* kSchoolFolder = "C:\\SchoolData";
constexpr const char* kPackage = "C:\\Temp\\QLR\\Foundation.pak";
constexpr const char* kBlankDatabase = "C:\\temp\\QLR\\SchoolData\\mydata.ib";
constexpr const char* kSchoolDatabase = "c:\\schooldata\\mydata.ib";
constexpr const char* kClientLibrary = "c:\\Windows\\System32\\GDS32.dll";
constexpr const char* kInstancesKey = "Software\\Firebird Project\\Firebird Server\\Instances";

constexpr const char* kProgramFolders[] = {
    "c:\\program files\\Tessaly",
    "c:\\program files\\Tessaly\\Quillory",
    kHelpFolder,
};
constexpr const char* kWorkFolders[] = {
    "c:\\SchoolData",
    "c:\\TSLData",
    "c:\\TSLData\\QLR",
    "c:\\TSLData\\QLR\\HelpFiles",
    "c:\\Temp",
    "c:\\Temp\\QLR",
    "C:\\Temp\\QLR\\Quillory",
    "C:\\Temp\\QLR\\Firebird",
    "C:\\Temp\\QLR\\SchoolData",
};

constexpr const char* kInstaller = "c:\\temp\\QLR\\Firebird\\Firebird-2.1.1.17910-0_Win32.exe";
constexpr const char* kStopGuardian = "net stop \"InterBase Guardian\" >NULL";
constexpr const char* kStopServer = "net stop \"InterBase Server\" >NULL";
// The blanks are part of the line the installer has always been given.
constexpr char kInstallFirebird[] =
    "c:\\temp\\QLR\\Firebird\\Firebird-2.1.1.17910-0_Win32.exe /SILENT /VERYSILENT /SP- /SUPPRESSMSGBOXES "
    "/LOG=\"c:\\temp\\qlr\\FBInstallLog.txt\" /NOCANCEL /NOICONS   "
    "/COMPONENTS=\"ServerComponent\\SuperServerComponent,ServerComponent,ClientComponent\" /NOCPL    ";
static_assert(sizeof kInstallFirebird - 1 == 247);

}  // namespace

bool TForm1::InstallFoundation() {
    bool ready = true;
    AddLogLine("Installing Foundation");
    AddLogLine("Removing Temporary Directories, Temp\\QLR");
    DeleteFolderTree(kTempFolder);
    AppendLogText(platform_.FolderExists(kTempFolder) ? "... FAILED 5" : "... OK");

    AddLogLine("Creating Program Directories");
    for (const char* folder : kProgramFolders) platform_.MakeFolder(folder);
    if (!platform_.FolderExists(kHelpFolder)) AppendLogText("... FAILED 6a");
    for (const char* folder : kWorkFolders) platform_.MakeFolder(folder);
    AppendLogText(platform_.FolderExists("C:\\Temp\\QLR\\Quillory") ? "... OK" : "... FAILED 6b");

    AddLogLine(platform_.FolderExists(kSchoolFolder) ? "SchoolData Exists ... OK"
                                                     : "SchoolData Does NOT exist ....FAILED 7");

    AddLogLine(std::string("Downloading Foundation File to ") + kPackage);
    DownloadFile(UpdateBaseUrl() + "updates/Foundation.pak", kPackage);
    AddLogLine("Program Loaded, decompressing file");
    // The installer runs with the setup's rights: no one may swap it between its unpack and its start.
    HeldFile installer{kInstaller, false, nullptr};
    if (!UnpackPackage(kPackage, &installer)) {
        AppendLogText("... FAILED 8");
        return false;
    }
    AppendLogText("... OK");

    if (!ReadFirebirdInstance().empty()) {
        AddLogLine("Firebird already installed");
    } else {
        AddLogLine("Installing Firebird");
        try {
            // Old InterBase services hold the client library the installer must replace. The system's own
            // net.exe, never one found by a search: the setup copy's folder comes first in that.
            if (const std::string system = platform_.SystemFolder(); !system.empty()) {
                StartProcessAndWait(kStopGuardian, system + "\\net.exe");
                StartProcessAndWait(kStopServer, system + "\\net.exe");
            }
            platform_.RemoveFile(kClientLibrary);
        } catch (const std::exception&) {
        }
        if (!installer.found || installer.file) StartProcessAndWait(kInstallFirebird);
        installer.file.reset();
        if (ReadFirebirdInstance().empty()) {
            AppendLogText("...FAILED 9");
            ready = false;
        } else {
            AppendLogText("...OK");
        }
    }

    AddLogLine("Pt 1");
    AddLogLine(platform_.FolderExists(kSchoolFolder) ? "SchoolData Exists ... OK"
                                                     : "SchoolData Does NOT exist ....FAILED 10");
    AddLogLine("Pt 2");
    // Never over a school's own data: the blank database only fills a gap.
    if (!platform_.FileExists(kSchoolDatabase)) {
        AddLogLine("Loading blank database");
        CopyOneFile(kBlankDatabase, kSchoolDatabase);
        if (platform_.FileExists(kSchoolDatabase)) {
            AppendLogText("...OK");
        } else {
            AppendLogText("...FAILED 11");
            ready = false;
        }
    }
    return ready;
}

std::string TForm1::ReadFirebirdInstance() {
    // Any registry trouble means "not registered": the installer then runs and tells.
    try {
        auto key = platform_.OpenRegistryKey(RegistryRoot::LocalMachine, kInstancesKey, false);
        return key ? ReadRegistryText(*key, "DefaultInstance") : std::string();
    } catch (const std::exception&) {
        return std::string();
    }
}

void TForm1::CopyOneFile(const std::string& source, const std::string& target) {
    platform_.CopyFileOver(source, target);
    if (!platform_.FileExists(target)) AddLogLine("Copying file: " + source + " to " + target + "....FAILED 12");
}

bool TForm1::DeleteFolderTree(const std::string& folder) { return platform_.DeleteFolderTree(folder); }

}  // namespace qlr
