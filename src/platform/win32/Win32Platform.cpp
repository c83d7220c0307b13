#include "platform/win32/Win32Platform.h"

#include <objbase.h>

#include "platform/win32/ComShellLink.h"
#include "platform/win32/Handles.h"
#include "platform/win32/ProgressWindowWin32.h"
#include "platform/win32/SystemDlls.h"
#include "platform/win32/Win32Files.h"
#include "platform/win32/Win32Gui.h"
#include "platform/win32/Win32Process.h"
#include "platform/win32/Win32Registry.h"
#include "platform/win32/Win32RunLock.h"
#include "platform/win32/WinInetHttp.h"

namespace qlr::win32 {

namespace {

constexpr const char* kFailureFile = "Tovanel failure.txt";

std::string FormatLocal(const SYSTEMTIME& time, bool withTime) {
    char date[128] = {};
    if (!::GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &time, nullptr, date, sizeof date)) date[0] = '\0';
    std::string text = date;
    if (!withTime) return text;
    char clock[128] = {};
    if (!::GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &time, nullptr, clock, sizeof clock)) clock[0] = '\0';
    return text + " " + clock;
}

class Win32Platform : public Platform {
public:
    bool MakeFolder(const std::string& path) override { return ::CreateDirectoryA(path.c_str(), nullptr) != 0; }
    bool FolderExists(const std::string& path) override { return IsFolder(path); }
    bool FileExists(const std::string& path) override { return IsFile(path); }
    bool RemoveFile(const std::string& path) override { return ::DeleteFileA(path.c_str()) != 0; }
    bool CopyFileOver(const std::string& from, const std::string& to) override {
        return ::CopyFileA(from.c_str(), to.c_str(), FALSE) != 0;
    }
    bool MoveOver(const std::string& from, const std::string& to) override { return MoveFileOver(from, to); }
    bool DeleteFolderTree(const std::string& path) override { return DeleteTree(path); }
    std::unique_ptr<FileStream> OpenForRead(const std::string& path) override { return OpenExistingForRead(path); }
    std::unique_ptr<FileStream> OpenAndHold(const std::string& path) override { return OpenHeld(path); }
    std::unique_ptr<FileStream> CreateNewFile(const std::string& path) override { return CreateAlways(path); }
    std::unique_ptr<FileStream> CreateFileExclusive(const std::string& path) override { return CreateNew(path); }
    bool AppendToFile(const std::string& path, const std::string& text) override { return AppendText(path, text); }

    bool SetCurrentFolder(const std::string& path) override { return ::SetCurrentDirectoryA(path.c_str()) != 0; }
    std::string CurrentFolder() override { return CurrentDirectory(); }
    std::vector<std::string> ListFiles(const std::string& mask) override { return ListCurrentFolder(mask); }

    std::unique_ptr<Process> SpawnProcess(const std::string& commandLine, const std::string& program) override {
        return StartCommandLine(commandLine, program);
    }
    std::unique_ptr<MachineLock> LockMachine(unsigned waitMs) override { return LockRuns(pump_, waitMs); }

    std::optional<std::string> UserName(std::uint32_t bufferSize) override {
        char buffer[254] = {};
        DWORD size = bufferSize < sizeof buffer ? bufferSize : sizeof buffer;
        if (!::GetUserNameA(buffer, &size) || size == 0) return std::nullopt;
        return std::string(buffer, size - 1);  // the count includes the NUL
    }

    std::string OwnPath() override {
        std::string path(MAX_PATH, '\0');
        for (;;) {
            const DWORD length = ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
            if (length == 0) return std::string();
            if (length < path.size()) {
                path.resize(length);
                return path;
            }
            path.resize(path.size() * 2);  // truncated: try a larger buffer
        }
    }

    std::string SystemFolder() override { return win32::SystemFolder(); }
    std::string CommandLine() override { return ::GetCommandLineA(); }

    std::string LocalDateTimeText() override {
        SYSTEMTIME now{};
        ::GetLocalTime(&now);
        const bool midnight = now.wHour == 0 && now.wMinute == 0 && now.wSecond == 0 && now.wMilliseconds == 0;
        return FormatLocal(now, !midnight);
    }

    std::uint64_t TickMs() override { return ::GetTickCount64(); }

    std::unique_ptr<RegistryKey> OpenRegistryKey(RegistryRoot root, const std::string& path, bool create) override {
        return OpenKey(root, path, create);
    }

    std::unique_ptr<HttpSession> OpenInternet(const std::string& agent) override { return OpenWinInetSession(agent); }

    std::unique_ptr<ShellLink> CreateShellLink() override { return CreateComShellLink(); }

    std::unique_ptr<NativeWindow> CreateMainWindow(const Bounds& bounds, const std::string& caption) override {
        return pump_.CreateMainWindow(bounds, caption);
    }
    std::unique_ptr<NativeProgressWindow> CreateProgressWindow(NativeWindow* owner, Tf_progress& model) override {
        return win32::CreateProgressWindow(owner ? static_cast<HWND>(owner->Handle()) : nullptr, model);
    }
    void StartTimer(unsigned intervalMs, std::function<void()> onTick) override {
        pump_.StartTimer(intervalMs, std::move(onTick));
    }
    void StopTimer() override { pump_.StopTimer(); }
    void RunMessageLoop() override { pump_.Run(); }
    void ProcessMessages() override { pump_.ProcessQueued(); }
    void Terminate() override { pump_.Terminate(); }
    bool Terminated() override { return pump_.Terminated(); }
    void Sleep(unsigned ms) override { ::Sleep(ms); }

    void ReportFailure(const std::string& text) override {
        // Unattended: no message box, a file in the user's temporary folder and the debugger's channel.
        ::OutputDebugStringA(text.c_str());
        const std::string folder = TempFolder();
        if (!folder.empty()) WriteWholeFile(folder + kFailureFile, text);
    }

private:
    MessagePump pump_;
};

}  // namespace

std::unique_ptr<Platform> CreateWin32Platform() { return std::make_unique<Win32Platform>(); }

int Win32Main(int (*run)(Platform&)) {
    HardenProcess();
    ComApartment com;  // for the shell links, on the GUI thread, for the whole run
    auto platform = CreateWin32Platform();
    try {
        return run(*platform);
    } catch (const std::exception& error) {
        platform->ReportFailure(std::string("Tovanel stopped: ") + error.what() + "\r\n");
        return 1;
    }
}

}  // namespace qlr::win32
