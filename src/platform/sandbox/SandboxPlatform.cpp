#include "platform/sandbox/SandboxPlatform.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "base/Text.h"
#include "platform/sandbox/CurlHttp.h"
#include "platform/sandbox/Denials.h"
#include "platform/sandbox/FdStream.h"
#include "platform/sandbox/LnkFile.h"
#include "platform/sandbox/MessageLoop.h"
#include "platform/sandbox/PathMapper.h"
#include "platform/sandbox/RegistryFile.h"
#include "platform/sandbox/RunLock.h"
#include "platform/sandbox/SandboxProcess.h"
#include "platform/sandbox/TerminalProgress.h"
#include "platform/sandbox/UniqueFd.h"

namespace qlr::sandbox {

namespace {

enum class Kind { Missing, File, Folder, Other };

Kind KindOf(const std::string& host) {
    struct stat info;
    if (stat(host.c_str(), &info) != 0) return Kind::Missing;
    if (S_ISREG(info.st_mode)) return Kind::File;
    if (S_ISDIR(info.st_mode)) return Kind::Folder;
    return Kind::Other;
}

bool Present(const std::string& host) {
    struct stat info;
    return lstat(host.c_str(), &info) == 0;
}

// Windows cannot remove a file that some program holds open unshared. Files
// the sandbox creates carry a lock for as long as they are open, so a
// removal can tell that they are in use, here as there.
void HoldUnshared(int fd) { ::flock(fd, LOCK_EX | LOCK_NB); }

bool HeldUnshared(const std::string& host) {
    UniqueFd fd(::open(host.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) return false;
    return ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

std::string ReadFirstLine(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    return line;
}

std::string OwnHostPath() {
    char buffer[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return length > 0 ? std::string(buffer, static_cast<std::size_t>(length)) : std::string();
}

// Programs started in other folders get the root too: it must not be relative.
std::string AbsoluteRoot(const std::string& root) {
    std::string path = std::filesystem::absolute(root).lexically_normal().string();
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

bool FastMode() {
    const char* fast = std::getenv("QLR_SANDBOX_FAST");
    return fast && std::string(fast) == "1";
}

// Removes the tree at host (Windows path upper) except what the denials
// keep; symbolic links are removed, never followed.
void RemoveTree(const std::string& host, const std::string& upper, const Denials& denials) {
    if (std::unique_ptr<DIR, int (*)(DIR*)> dir{opendir(host.c_str()), closedir}) {
        std::vector<std::string> names;
        while (dirent* entry = readdir(dir.get())) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        for (const auto& name : names) {
            const std::string childHost = host + "/" + name, childUpper = upper + "\\" + UpperCase(name);
            struct stat info;
            if (lstat(childHost.c_str(), &info) != 0) continue;
            if (S_ISDIR(info.st_mode)) {
                if (denials.Folder(childUpper) || denials.UnderFolder(childUpper)) continue;
                RemoveTree(childHost, childUpper, denials);
            } else if (!denials.Frozen(childUpper)) {
                ::unlink(childHost.c_str());
            }
        }
    }
    if (!denials.Frozen(upper)) ::rmdir(host.c_str());
}

class SandboxShellLink : public ShellLink {
public:
    explicit SandboxShellLink(Platform& platform) : platform_(platform) {}
    void SetPath(const std::string& target) override { target_ = target; }
    bool Save(const std::string& linkPath) override {
        const std::string bytes = ShellLinkFileBytes(target_);
        auto file = platform_.CreateNewFile(linkPath);
        if (!file) return false;
        if (file->Write(bytes.data(), bytes.size()) == bytes.size()) return true;
        file.reset();
        platform_.RemoveFile(linkPath);  // no half-written link
        return false;
    }

private:
    Platform& platform_;
    std::string target_;
};

class SandboxPlatform : public Platform {
public:
    explicit SandboxPlatform(const SandboxOptions& options)
        : root_(AbsoluteRoot(options.root)),
          mapper_(root_),
          loop_(FastMode()),
          console_(TerminalConsole::ForStandardOutput(options.verbose)) {}

    // ---- files ---------------------------------------------------------

    bool MakeFolder(const std::string& path) override {
        auto target = Locate(path);
        if (!target || target->components.empty()) return false;
        Denials denials = LoadDenials();
        if (denials.Folder(target->upper) || denials.UnderFolder(target->upper)) return false;
        return ::mkdir(target->host.c_str(), 0777) == 0;
    }

    bool FolderExists(const std::string& path) override {
        auto target = Locate(path);
        return target && KindOf(target->host) == Kind::Folder;
    }

    bool FileExists(const std::string& path) override {
        auto target = Locate(path);
        return target && KindOf(target->host) == Kind::File;
    }

    bool RemoveFile(const std::string& path) override {
        auto target = Locate(path);
        if (!target || KindOf(target->host) == Kind::Folder || !Present(target->host)) return false;
        if (LoadDenials().Frozen(target->upper) || HeldUnshared(target->host)) return false;
        return ::unlink(target->host.c_str()) == 0;
    }

    bool CopyFileOver(const std::string& from, const std::string& to) override {
        auto source = Locate(from), target = Locate(to);
        if (!source || !target) return false;
        Denials denials = LoadDenials();
        if (denials.File(source->upper) || !MayWrite(*target, denials)) return false;
        UniqueFd in(::open(source->host.c_str(), O_RDONLY | O_CLOEXEC));
        struct stat sourceInfo, targetInfo;
        if (!in || fstat(in.get(), &sourceInfo) != 0 || !S_ISREG(sourceInfo.st_mode)) return false;
        // Copying a file onto itself would truncate it first: Windows refuses it.
        if (stat(target->host.c_str(), &targetInfo) == 0 &&
            (!S_ISREG(targetInfo.st_mode) ||
             (targetInfo.st_dev == sourceInfo.st_dev && targetInfo.st_ino == sourceInfo.st_ino)))
            return false;
        UniqueFd out(::open(target->host.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
        if (!out) return false;
        AllowOwnerExecute(out.get());
        char buffer[64 * 1024];
        for (;;) {
            ssize_t got = ::read(in.get(), buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) continue;
            if (got == 0) return true;
            if (got < 0 || !WriteAll(out.get(), buffer, static_cast<std::size_t>(got))) break;
        }
        out.Reset();
        ::unlink(target->host.c_str());  // never leave a short copy behind
        return false;
    }

    bool MoveOver(const std::string& from, const std::string& to) override {
        auto source = Locate(from), target = Locate(to);
        if (!source || !target || source->components.empty() || target->components.empty()) return false;
        if (!Present(source->host) || KindOf(target->host) == Kind::Folder) return false;
        Denials denials = LoadDenials();
        if (denials.Frozen(source->upper) || denials.Frozen(target->upper)) return false;
        if (HeldUnshared(source->host) || HeldUnshared(target->host)) return false;
        // Linux lets a running executable be replaced by a rename.
        if (std::rename(source->host.c_str(), target->host.c_str()) != 0) return false;
        struct stat info;
        if (stat(target->host.c_str(), &info) == 0 && S_ISREG(info.st_mode))
            ::chmod(target->host.c_str(), (info.st_mode & 07777) | S_IXUSR);
        return true;
    }

    bool DeleteFolderTree(const std::string& path) override {
        auto target = Locate(path);
        if (!target || target->components.empty() || !Present(target->host)) return false;
        Denials denials = LoadDenials();
        struct stat info;
        if (lstat(target->host.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
            RemoveTree(target->host, target->upper, denials);
        else if (!denials.Frozen(target->upper))
            ::unlink(target->host.c_str());
        return !Present(target->host);
    }

    std::unique_ptr<FileStream> OpenForRead(const std::string& path) override {
        auto target = Locate(path);
        if (!target || LoadDenials().File(target->upper)) return nullptr;
        UniqueFd fd(::open(target->host.c_str(), O_RDONLY | O_CLOEXEC));
        struct stat info;
        if (!fd || fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
        return std::make_unique<FdStream>(std::move(fd));
    }

    std::unique_ptr<FileStream> OpenAndHold(const std::string& path) override {
        auto target = Locate(path);
        if (!target || LoadDenials().File(target->upper)) return nullptr;
        UniqueFd fd(::open(target->host.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        struct stat info;
        if (!fd || fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
        // A shared lock: other holders may read, while removals, moves and writers of this sandbox see it in use.
        if (::flock(fd.get(), LOCK_SH | LOCK_NB) != 0) return nullptr;
        return std::make_unique<FdStream>(std::move(fd));
    }

    std::unique_ptr<FileStream> CreateNewFile(const std::string& path) override {
        return Create(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC);
    }

    std::unique_ptr<FileStream> CreateFileExclusive(const std::string& path) override {
        return Create(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC);
    }

    bool AppendToFile(const std::string& path, const std::string& text) override {
        auto target = Locate(path);
        if (!target || !MayWrite(*target, LoadDenials())) return false;
        UniqueFd fd(::open(target->host.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666));
        if (!fd) return false;
        AllowOwnerExecute(fd.get());
        ssize_t put;
        do put = ::write(fd.get(), text.data(), text.size());  // one write: other appenders cannot interleave
        while (put < 0 && errno == EINTR);
        return put == static_cast<ssize_t>(text.size());
    }

    // ---- current folder and listing ------------------------------------

    bool SetCurrentFolder(const std::string& path) override { return mapper_.SetCurrent(path); }
    std::string CurrentFolder() override { return PathMapper::WindowsOf(mapper_.Current()); }

    std::vector<std::string> ListFiles(const std::string& mask) override {
        std::vector<std::string> names;
        std::string folder = mapper_.HostOf(mapper_.Current());
        std::string nameMask = mask;
        if (const auto slash = mask.find_last_of("\\/"); slash != std::string::npos) {
            auto target = Locate(mask.substr(0, slash + 1));
            if (!target) return names;
            folder = target->host;
            nameMask = mask.substr(slash + 1);
        }
        std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
        if (!dir) return names;
        while (dirent* entry = readdir(dir.get())) {
            const std::string name = entry->d_name;
            if (name.empty() || name[0] == '.') continue;  // hidden
            struct stat info;
            if (fstatat(dirfd(dir.get()), entry->d_name, &info, 0) != 0 || !S_ISREG(info.st_mode)) continue;
            if (MatchesWildcard(nameMask, name)) names.push_back(name);
        }
        return names;
    }

    // ---- processes -----------------------------------------------------

    std::unique_ptr<Process> SpawnProcess(const std::string& commandLine, const std::string& program) override {
        if (!program.empty()) {
            // An application name is that file or nothing: no search, no ".exe" added.
            auto target = Locate(program);
            if (!target || KindOf(target->host) != Kind::File) return nullptr;
            return Start(target->host, commandLine, ArgumentsAfter(commandLine, program));
        }
        for (const auto& candidate : ProgramCandidates(commandLine)) {
            auto host = FindProgram(WithDefaultExtension(candidate.program));
            // The first file found is the program, whether it can run or not.
            if (host) return Start(*host, commandLine, candidate.rest);
        }
        return nullptr;
    }

    std::unique_ptr<MachineLock> LockMachine(unsigned waitMs) override { return LockRuns(root_, loop_, waitMs); }

    // ---- identity and time ---------------------------------------------

    std::optional<std::string> UserName(std::uint32_t bufferSize) override {
        std::string name = ReadFirstLine(root_ + "/sandbox-user.txt");
        if (name.empty())
            if (const passwd* user = getpwuid(geteuid())) name = user->pw_name;
        if (name.empty() || name.size() + 1 > bufferSize) return std::nullopt;
        return name;
    }

    std::string OwnPath() override {
        const std::string host = OwnHostPath();
        if (auto components = mapper_.FromHost(host)) return PathMapper::WindowsOf(*components);
        // Outside drive_c the program sees its path on drive Z:, as under Wine.
        std::string text = "Z:" + host;
        for (char& c : text)
            if (c == '/') c = '\\';
        return text;
    }

    std::string SystemFolder() override { return "C:\\windows\\system32"; }

    std::string CommandLine() override {
        if (const char* given = std::getenv("QLR_SANDBOX_CMDLINE")) return given;
        std::ifstream in("/proc/self/cmdline", std::ios::binary);
        std::string text, argument;
        while (std::getline(in, argument, '\0')) text += (text.empty() ? "" : " ") + argument;
        return text;
    }

    std::string LocalDateTimeText() override {
        std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        char text[32];
        if (local.tm_hour == 0 && local.tm_min == 0 && local.tm_sec == 0)
            std::strftime(text, sizeof text, "%d/%m/%Y", &local);
        else
            std::strftime(text, sizeof text, "%d/%m/%Y %H:%M:%S", &local);
        return text;
    }

    std::uint64_t TickMs() override {
        using namespace std::chrono;
        return static_cast<std::uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    }

    // ---- registry, HTTP, shell links -----------------------------------

    std::unique_ptr<RegistryKey> OpenRegistryKey(RegistryRoot root, const std::string& path, bool create) override {
        const std::string hive = root == RegistryRoot::CurrentUser ? "HKCU\\" : "HKLM\\";
        return OpenSandboxKey(root_, hive + path, create);
    }

    std::unique_ptr<HttpSession> OpenInternet(const std::string& agent) override {
        // The machine's own root store: certificates trusted beside the host's.
        CurlOptions options;
        const std::string roots = root_ + "/trusted-roots.pem";
        if (::access(roots.c_str(), R_OK) == 0) options.extraRoots = roots;
        return OpenCurlSession(agent, std::move(options));
    }

    std::unique_ptr<ShellLink> CreateShellLink() override { return std::make_unique<SandboxShellLink>(*this); }

    // ---- GUI and message loop ------------------------------------------

    std::unique_ptr<NativeWindow> CreateMainWindow(const Bounds&, const std::string&) override { return nullptr; }
    void StartTimer(unsigned intervalMs, std::function<void()> onTick) override {
        loop_.StartTimer(intervalMs, std::move(onTick));
    }
    void StopTimer() override { loop_.StopTimer(); }
    void RunMessageLoop() override { loop_.Run(); }
    void ProcessMessages() override { loop_.ProcessMessages(); }
    void Terminate() override { loop_.Terminate(); }
    bool Terminated() override { return loop_.Terminated(); }
    void Sleep(unsigned ms) override { loop_.Sleep(ms); }

    // The screen is the terminal: the progress bar and the run log as it grows.
    std::unique_ptr<NativeProgressWindow> CreateProgressWindow(NativeWindow*, Tf_progress& model) override {
        return console_->CreateProgressWindow(model);
    }
    void EchoLogText(const std::string& appended) override { console_->EchoLogText(appended); }

    void ReportFailure(const std::string& text) override {
        const std::string line = text.empty() || text.back() == '\n' ? text : text + "\n";
        UniqueFd fd(::open((root_ + "/failure-report.txt").c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
        if (fd) WriteAll(fd.get(), line.data(), line.size());
        std::cerr << line << std::flush;
    }

private:
    struct Target {
        std::vector<std::string> components;
        std::string host;
        std::string upper;  // for the denials
    };

    std::optional<Target> Locate(const std::string& path) const {
        auto components = mapper_.Resolve(path);
        if (!components) return std::nullopt;
        return Target{*components, mapper_.HostOf(*components), UpperKey(*components)};
    }

    Denials LoadDenials() const { return Denials(root_, mapper_); }

    std::unique_ptr<FileStream> Create(const std::string& path, int flags) {
        auto target = Locate(path);
        if (!target || !MayWrite(*target, LoadDenials())) return nullptr;
        UniqueFd fd(::open(target->host.c_str(), flags, 0666));
        if (!fd) return nullptr;
        AllowOwnerExecute(fd.get());
        HoldUnshared(fd.get());
        return std::make_unique<FdStream>(std::move(fd));
    }

    // Writing to an existing file needs only the file; creating one needs its folder too.
    static bool MayWrite(const Target& target, const Denials& denials) {
        if (target.components.empty() || denials.File(target.upper) || HeldUnshared(target.host)) return false;
        return Present(target.host) || !denials.UnderFolder(target.upper);
    }

    std::unique_ptr<Process> Start(const std::string& host, const std::string& commandLine, const std::string& rest) {
        if (auto components = mapper_.FromHost(host); components && LoadDenials().File(UpperKey(*components)))
            return nullptr;
        return StartNative(host, SplitArguments(rest), mapper_.HostOf(mapper_.Current()),
                           {"QLR_SANDBOX_ROOT=" + root_, "QLR_SANDBOX_CMDLINE=" + commandLine});
    }

    // Host path of the program file that Windows would find for program.
    std::optional<std::string> FindProgram(const std::string& program) const {
        if (!IsBareName(program)) {
            auto target = Locate(program);
            if (target && KindOf(target->host) == Kind::File) return target->host;
            return std::nullopt;
        }
        const std::string own = OwnHostPath();
        std::vector<std::string> folders{own.substr(0, own.rfind('/')), mapper_.HostOf(mapper_.Current())};
        for (const char* system : {"C:\\windows\\system32", "C:\\windows"})
            if (auto folder = mapper_.ToHost(system)) folders.push_back(*folder);
        for (const auto& folder : folders)
            if (auto name = FindEntry(folder, program); name && KindOf(folder + "/" + *name) == Kind::File)
                return folder + "/" + *name;
        return std::nullopt;
    }

    std::string root_;
    PathMapper mapper_;
    MessageLoop loop_;
    std::unique_ptr<TerminalConsole> console_;
};

}  // namespace

std::unique_ptr<Platform> CreateSandboxPlatform(const SandboxOptions& options) {
    return std::make_unique<SandboxPlatform>(options);
}

}  // namespace qlr::sandbox
