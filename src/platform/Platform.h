#pragma once
// The one door between the core and the operating system. The core is
// plain C++20; everything that touches files, processes, the registry, the
// network, the shell or the GUI goes through here. Paths are Windows paths
// ("C:\x\y"), 8-bit ANSI, on both implementations. Member names avoid the
// Win32 A/W macros (CreateFile, ReplaceFile, CreateProcess).

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace qlr {

// An error a step cannot handle; what() is the system's own message text.
class RunError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Bounds {
    int left = 0, top = 0, width = 0, height = 0;
};

// ---- files ---------------------------------------------------------------

struct FileRead {
    std::size_t count = 0;  // 0 without failed: the end of the file
    bool failed = false;    // the read itself failed; count says what arrived before
};

class FileStream {
public:
    virtual ~FileStream() = default;
    // Fills up to count bytes; fewer only at the end of the file or on a failure.
    virtual FileRead Read(void* buffer, std::size_t count) = 0;
    // Bytes written; fewer than count when the write failed.
    virtual std::size_t Write(const void* buffer, std::size_t count) = 0;
    // What was written reaches the disk itself (FlushFileBuffers, fsync).
    virtual bool Sync() = 0;
    virtual std::int64_t Size() = 0;
    virtual std::int64_t Position() = 0;
    virtual bool Seek(std::int64_t position) = 0;
    // The file itself, whatever its name now: equal for two streams of one
    // file, different for another file put in its place. Empty when unknown.
    virtual std::string Identity() { return {}; }
};

// ---- processes -----------------------------------------------------------

class Process {
public:
    virtual ~Process() = default;
    // Exit code as GetExitCodeProcess reports it: 259 while running.
    virtual std::uint32_t ExitCode() = 0;
    // True once the process itself has ended, whatever its exit code.
    virtual bool HasEnded() = 0;
};

// Held by one process of the machine at a time; released when destroyed.
class MachineLock {
public:
    virtual ~MachineLock() = default;
};

// ---- registry ------------------------------------------------------------

enum class RegistryRoot { CurrentUser, LocalMachine };

struct RegistryValue {
    enum class Kind { Missing, String, Other };
    Kind kind = Kind::Missing;
    std::string text;  // for String (REG_SZ, or REG_EXPAND_SZ unexpanded)
};

class RegistryKey {
public:
    virtual ~RegistryKey() = default;
    virtual RegistryValue ReadValue(const std::string& name) = 0;
    virtual bool WriteString(const std::string& name, const std::string& value) = 0;
    // Opens a subkey for reading; creates it, for writing too, when create is true.
    virtual std::unique_ptr<RegistryKey> OpenSubKey(const std::string& path, bool create) = 0;
};

// ---- HTTP ----------------------------------------------------------------

struct HttpRead {
    std::size_t count = 0;  // 0: end of body, or failure when failed is set
    bool failed = false;
};

class HttpResponse {
public:
    virtual ~HttpResponse() = default;
    virtual HttpRead Read(char* buffer, std::size_t count) = 0;
    // Content-Length the server announced, when it announced one.
    virtual std::optional<std::int64_t> AnnouncedLength() = 0;
    // The final response's status (redirects followed); 0 when unknown.
    virtual int Status() { return 0; }
    // A header of the final response: "ETag", "Last-Modified" or "Content-Range"; nullopt when absent.
    virtual std::optional<std::string> Header(const std::string& name) {
        (void)name;
        return std::nullopt;
    }
};

// The rest of a body from a byte on, if it is still the same (Range and If-Range).
struct HttpRange {
    std::int64_t from = 0;
    std::string validator;  // an ETag or Last-Modified the server gave
};

class HttpSession {
public:
    virtual ~HttpSession() = default;
    // A plain GET, never from a cache, redirects followed to http and https
    // only; nullptr when the URL cannot be opened or no response arrived in
    // time. Reads fill the buffer unless the body ends, and fail when less
    // than kHttpLeastBytes arrive within the time limit; a body longer than
    // its Content-Length ends there.
    virtual std::unique_ptr<HttpResponse> OpenUrl(const std::string& url) = 0;
    // The same GET for the rest of a body; nullptr as OpenUrl. The default cannot.
    virtual std::unique_ptr<HttpResponse> OpenRange(const std::string& url, const HttpRange& range) {
        (void)url;
        (void)range;
        return nullptr;
    }
};

inline constexpr std::size_t kHttpLeastBytes = 1024;

// 60 s, or QLR_HTTP_TIME_LIMIT whole seconds (1 to 3600) for tests and slow links.
inline std::chrono::milliseconds HttpTimeLimit() {
    long seconds = 60;
    if (const char* text = std::getenv("QLR_HTTP_TIME_LIMIT")) {
        char* end = nullptr;
        long given = std::strtol(text, &end, 10);
        if (end != text && *end == '\0' && given >= 1 && given <= 3600) seconds = given;
    }
    return std::chrono::seconds(seconds);
}

// 1000 ms, or QLR_HTTP_RESUME_PAUSE milliseconds (1 to 60000) for tests: the pause before
// the first resumed request of a download, doubled before each further one.
inline unsigned HttpResumePauseMs() {
    unsigned ms = 1000;
    if (const char* text = std::getenv("QLR_HTTP_RESUME_PAUSE")) {
        char* end = nullptr;
        long given = std::strtol(text, &end, 10);
        if (end != text && *end == '\0' && given >= 1 && given <= 60000) ms = static_cast<unsigned>(given);
    }
    return ms;
}

// ---- shell links ---------------------------------------------------------

class ShellLink {
public:
    virtual ~ShellLink() = default;
    virtual void SetPath(const std::string& target) = 0;
    virtual bool Save(const std::string& linkPath) = 0;
};

// ---- GUI -----------------------------------------------------------------

enum class ControlKind { Label, Edit, Memo, FileList };

// A native window or control that mirrors a control's state, when one exists.
class NativeControl {
public:
    virtual ~NativeControl() = default;
    virtual void SetText(const std::string& text) = 0;
    virtual void SetItems(const std::vector<std::string>& items) { (void)items; }
    virtual void SetBounds(const Bounds& bounds) = 0;
    // Redraw now, not at the next paint message.
    virtual void Repaint() = 0;
    // The OS handle (an HWND on Windows), for windows that it owns.
    virtual void* Handle() { return nullptr; }
};

class Tf_progress;

// The progress window's own native window; it attaches peers to the
// model's panel and gauge and paints them.
class NativeProgressWindow {
public:
    virtual ~NativeProgressWindow() = default;
    virtual void Show() = 0;  // not modal; drawn before returning
    virtual void Hide() = 0;
};

class NativeWindow : public NativeControl {
public:
    virtual std::unique_ptr<NativeControl> AddControl(ControlKind kind, const Bounds& bounds,
                                                      const std::string& text) = 0;
    virtual void Show() = 0;
    virtual void Hide() = 0;
};

// ---- signatures ----------------------------------------------------------
// ECDSA over P-256 with SHA-256, from the system's own crypto. Free functions
// rather than Platform members: the release tools use them without a platform.

namespace crypto {

using Sha256Digest = std::array<std::uint8_t, 32>;
using P256PublicKey = std::array<std::uint8_t, 64>;  // X then Y, big-endian
using P256Signature = std::array<std::uint8_t, 64>;  // r then s, big-endian

class Sha256 {
public:
    virtual ~Sha256() = default;
    virtual void Update(const void* data, std::size_t count) = 0;
    virtual Sha256Digest Finish() = 0;
};

// Throws RunError when the system offers no SHA-256.
std::unique_ptr<Sha256> StartSha256();
// True only for a signature of digest by key; a key off the curve is false.
bool VerifyP256(const P256PublicKey& key, const Sha256Digest& digest, const P256Signature& signature);

// For the release tools; throw RunError with the reason. A private key is
// PEM text as OpenSSL writes it; the public key "-----BEGIN PUBLIC KEY-----".
struct P256KeyPair {
    std::string privatePem, publicPem;
};
P256KeyPair MakeP256KeyPair();
P256Signature SignP256(const std::string& privatePem, const Sha256Digest& digest);

}  // namespace crypto

// ---- the platform --------------------------------------------------------

class Platform {
public:
    virtual ~Platform() = default;

    // Files and folders
    virtual bool MakeFolder(const std::string& path) = 0;  // one level
    virtual bool FolderExists(const std::string& path) = 0;
    virtual bool FileExists(const std::string& path) = 0;  // a file, not a folder
    virtual bool RemoveFile(const std::string& path) = 0;
    virtual bool CopyFileOver(const std::string& from, const std::string& to) = 0;
    // Moves from over to. Fails when either is open without delete sharing;
    // a running executable can be moved, but not replaced where it is.
    virtual bool MoveOver(const std::string& from, const std::string& to) = 0;
    // Whole tree, for good (no recycle bin). True when the shell reports success.
    virtual bool DeleteFolderTree(const std::string& path) = 0;
    // nullptr when the file cannot be opened / created. Reading shares the
    // file with other programs, whatever they do with it.
    virtual std::unique_ptr<FileStream> OpenForRead(const std::string& path) = 0;
    // Opened for reading and held: until the stream goes, others may read the
    // file but not write, rename or remove it. nullptr when it cannot be
    // opened or another program has it open for writing.
    virtual std::unique_ptr<FileStream> OpenAndHold(const std::string& path) = 0;
    // Created new or truncated, read/write, not shared: while it is open no
    // other program, nor this one, can open or remove it.
    virtual std::unique_ptr<FileStream> CreateNewFile(const std::string& path) = 0;
    // As CreateNewFile, but only when nothing exists at path yet.
    virtual std::unique_ptr<FileStream> CreateFileExclusive(const std::string& path) = 0;
    // Appends in one write, safe against other processes appending too.
    virtual bool AppendToFile(const std::string& path, const std::string& text) = 0;

    // Current folder and listing
    virtual bool SetCurrentFolder(const std::string& path) = 0;
    virtual std::string CurrentFolder() = 0;  // no trailing backslash
    // Ordinary files (not folders, hidden or system files) of the current
    // folder whose names match mask by the system's wildcard rules; unsorted.
    // A mask with a folder ("C:\x\*.txt") lists that folder instead.
    virtual std::vector<std::string> ListFiles(const std::string& mask) = 0;

    // Processes: CreateProcessA with flags 0x220, inherited environment and
    // current folder; nullptr when refused. With an empty program there is no
    // application name: the system finds the program from the command line.
    // Otherwise program is the application name: that file starts, never
    // one found by a search, and sees commandLine exactly as given.
    virtual std::unique_ptr<Process> SpawnProcess(const std::string& commandLine, const std::string& program) = 0;
    std::unique_ptr<Process> SpawnProcess(const std::string& commandLine) { return SpawnProcess(commandLine, {}); }

    // One run at a time: the machine's run lock, held until the returned
    // object goes or the process ends. Waits up to waitMs for another holder,
    // letting queued messages run; nullptr when it is still held then or the
    // application was told to terminate. Where no lock can be made at all,
    // the run goes on as if it held one.
    virtual std::unique_ptr<MachineLock> LockMachine(unsigned waitMs) = 0;

    // Identity and time
    // GetUserNameA into a buffer of bufferSize characters (null included);
    // the returned count, null included, or nullopt when the call failed.
    virtual std::optional<std::string> UserName(std::uint32_t bufferSize) = 0;
    virtual std::string OwnPath() = 0;
    // The system folder (GetSystemDirectoryA), no trailing backslash.
    virtual std::string SystemFolder() = 0;
    virtual std::string CommandLine() = 0;  // as GetCommandLineA gives it
    // Short date, a blank, long time; the time left out at exactly midnight.
    virtual std::string LocalDateTimeText() = 0;
    // Milliseconds from an arbitrary start; never goes back.
    virtual std::uint64_t TickMs() = 0;

    // Registry, 32-bit view. An opened key is for reading; a created one (create) may also take values and
    // subkeys; neither asks for more. nullptr when the key cannot be opened.
    virtual std::unique_ptr<RegistryKey> OpenRegistryKey(RegistryRoot root, const std::string& path, bool create) = 0;

    // HTTP with the system's proxy settings and root certificates, and the
    // time limit of HttpTimeLimit(). nullptr when the layer cannot start.
    virtual std::unique_ptr<HttpSession> OpenInternet(const std::string& agent) = 0;

    // Shell link object; throws RunError when it cannot be created.
    virtual std::unique_ptr<ShellLink> CreateShellLink() = 0;

    // GUI and message loop. CreateMainWindow returns nullptr when headless.
    virtual std::unique_ptr<NativeWindow> CreateMainWindow(const Bounds& bounds, const std::string& caption) = 0;
    virtual void StartTimer(unsigned intervalMs, std::function<void()> onTick) = 0;
    virtual void StopTimer() = 0;
    virtual void RunMessageLoop() = 0;   // until Terminate
    virtual void ProcessMessages() = 0;  // what is queued, then return
    virtual void Terminate() = 0;
    virtual bool Terminated() = 0;
    virtual void Sleep(unsigned ms) = 0;

    // The progress window over model, owned by owner; nullptr when headless.
    virtual std::unique_ptr<NativeProgressWindow> CreateProgressWindow(NativeWindow* owner, Tf_progress& model) {
        (void)owner;
        (void)model;
        return nullptr;
    }
    // Each piece of text as it is added to the run log, line breaks included.
    virtual void EchoLogText(const std::string& appended) { (void)appended; }

    // Where a person will find a report when the run log itself cannot be saved.
    virtual void ReportFailure(const std::string& text) = 0;
};

}  // namespace qlr
