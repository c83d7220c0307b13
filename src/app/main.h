#pragma once
// The main window: owner of the run's state, its controls and its log.
// Every operation of the run is a method here, defined in the folder of
// its subsystem (app, update, install, launch).

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "ui/Controls.h"
#include "ui/Progress.h"

namespace qlr {

// A file of a package kept from change from its unpack until it is used.
struct HeldFile {
    std::string path;
    bool found = false;                // the package holds it
    std::unique_ptr<FileStream> file;  // null when found but no longer the unpacked file
};

class TForm1 {
public:
    explicit TForm1(Platform& platform);
    ~TForm1();

    // ---- the window and its controls ----
    static constexpr Bounds DesignBounds{20, 211, 1246, 715};
    static constexpr int OffScreenLeft = -2000;
    Bounds WindowBounds = DesignBounds;
    std::string Caption = "QLR Updater";

    TFileListBox FL;
    TEdit Edit1, Edit2, Edit3, Edit4, Edit5, Edit6, Edit7, Edit8, Edit9, Edit10, Edit11;
    TMemo Memo1, Memo2, Memo3, Memo4;
    TTimer Timer1;
    std::vector<std::unique_ptr<TLabel>> Labels;

    // ---- run state ----
    bool ProgramStarted = false;
    std::string HaveVersion;
    std::string ChosenProgram;
    std::string ProgramFolder;
    std::int32_t ExpectedBytes = 0;
    std::int32_t ExpectedFiles = 0;
    std::int32_t BytesRead = 0;
    int UpdaterVersion = 0;
    std::unique_ptr<Tf_progress> f_progress;
    // Keys a downloaded package must be signed with; none: nothing is checked.
    std::vector<crypto::P256PublicKey> ReleaseKeys;

    // ---- start-up (app/StartUp.cpp) ----
    void FormCreate();
    void WriteVersionLine();
    bool FoundationPresent();

    // ---- run pass (app/RunPass.cpp) ----
    void Timer1Timer();
    std::string CurrentUserName();
    void ReadOptions(std::string& schoolName, std::string& smsid);
    std::string LogFileName();
    // True when this run may do the install and update work, once no other
    // run of the machine does it; logs why when it may not.
    bool TakeRunLock();

    // ---- run log (app/RunLog.cpp) ----
    void AddLogLine(const std::string& text);
    void AppendLogText(const std::string& text);
    void RepaintLog();
    // Throws RunError when the file cannot be written.
    void SaveLog(const std::string& fileName);

    // ---- updates (update/) ----
    // Stops, with what it has, once limit bytes are stored. A resumable download that is cut
    // asks for the rest of the same body a few times before it fails.
    void DownloadFile(const std::string& url, const std::string& localPath,
                      std::int64_t limit = std::numeric_limits<std::int64_t>::max(), bool resumable = true);
    // Unpacks and commits a package whole, from one handle held from its
    // signature check to its commit. With ReleaseKeys, false with the reason
    // logged and the file deleted when it is signed by none of them or under
    // another name than its file's. hold, when given, names an entry that
    // stays held (read-only for others) after the commit.
    bool UnpackPackage(const std::string& packagePath, HeldFile* hold = nullptr);
    // Finishes or undoes a commit that a killed run left, and removes set-aside files nothing holds any more.
    void FinishInterruptedCommit();
    void CheckForUpdates(const std::string& schoolName, const std::string& smsid);

    // ---- installation (install/) ----
    bool InstallFoundation();
    std::string ReadFirebirdInstance();
    void CopyOneFile(const std::string& source, const std::string& target);
    bool DeleteFolderTree(const std::string& folder);
    void MakeSuiteShortcuts();
    void MakeShortcut(const std::string& target, int shortcutLocation);

    // ---- launch (launch/) ----
    void FindHighestProgram();
    bool StartChosenProgram();
    bool StartProcess(const std::string& commandLine);
    // program: the file that starts; by default the one the command line names by its path.
    bool StartProcessAndWait(const std::string& commandLine, const std::string& program = {});

    // ---- progress window (ui/) ----
    void ShowProgressWindow();
    void CloseProgressWindow();

    Platform& platform() { return platform_; }
    NativeWindow* NativeForm() { return window_.get(); }

private:
    void CreateNativeWindow();
    Platform& platform_;
    std::unique_ptr<NativeWindow> window_;
    std::unique_ptr<MachineLock> runLock_;  // from TakeRunLock until the log is saved
};

// Fixed places of the suite.
namespace paths {
inline constexpr const char* DataFolder = "C:\\TSLData\\QLR";
inline constexpr const char* StartupProgram = "C:\\TSLData\\QLR\\Tovanel.exe";
inline constexpr const char* SchoolDatabase = "C:\\SchoolData\\mydata.ib";
inline constexpr const char* ProgramFolder = "C:\\Program Files\\Tessaly\\Quillory";
}  // namespace paths

}  // namespace qlr

namespace qlr {
// The program file an unquoted command line names by its path: the first
// piece of it, ending at a blank or at the end, that ends in ".exe". Empty
// when the line is quoted, names a bare program (found along the search
// path) or no ".exe" at all: then the system's own rules find the program.
// Given as the application name, it keeps "C:\Program Files\...\x.exe"
// from ever starting C:\Program.exe.
std::string ProgramNamedBy(const std::string& commandLine);
}  // namespace qlr
