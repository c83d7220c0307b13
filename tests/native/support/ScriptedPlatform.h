#pragma once
// Helpers of the update tests: a sandbox platform whose HTTP and file
// writes can be scripted, commands and nginx for the server tests, and small
// package builders.

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/LogSection.h"
#include "native/support/PackageServer.h"
#include "platform/Platform.h"
#include "platform/sandbox/CurlHttp.h"

namespace qlr::testing {

// ---- scripted HTTP ---------------------------------------------------------

struct ScriptedReply {
    std::string body;
    std::size_t failAfter = std::string::npos;  // a read past this many bytes fails
    std::optional<std::int64_t> announced{};    // Content-Length the "server" claims
};

class ScriptedResponse final : public HttpResponse {
public:
    ScriptedResponse(ScriptedReply reply, std::vector<std::size_t>& requested)
        : reply_(std::move(reply)), requested_(requested) {}
    HttpRead Read(char* buffer, std::size_t count) override {
        requested_.push_back(count);
        if (offset_ >= reply_.failAfter) return HttpRead{0, true};
        std::size_t end = std::min({reply_.body.size(), reply_.failAfter, offset_ + count});
        std::size_t n = end - offset_;
        std::memcpy(buffer, reply_.body.data() + offset_, n);
        offset_ += n;
        return HttpRead{n, false};
    }
    std::optional<std::int64_t> AnnouncedLength() override { return reply_.announced; }

private:
    ScriptedReply reply_;
    std::size_t offset_ = 0;
    std::vector<std::size_t>& requested_;
};

// A file with faults on demand: writes fail once writeLimit bytes are in
// (a full disk), reads fail at offset readLimit (a bad sector). Records the
// size of every write.
class LimitedStream final : public FileStream {
public:
    LimitedStream(std::unique_ptr<FileStream> inner, std::optional<std::int64_t> writeLimit,
                  std::optional<std::int64_t> readLimit, std::vector<std::size_t>& writes)
        : inner_(std::move(inner)), writeLeft_(writeLimit), readLimit_(readLimit), writes_(writes) {}
    FileRead Read(void* b, std::size_t n) override {
        if (!readLimit_) return inner_->Read(b, n);
        const std::int64_t before = std::max<std::int64_t>(0, *readLimit_ - inner_->Position());
        const std::size_t asked = static_cast<std::size_t>(std::min<std::int64_t>(before, std::int64_t(n)));
        FileRead read = inner_->Read(b, asked);
        if (asked < n && read.count == asked) read.failed = true;
        return read;
    }
    std::size_t Write(const void* b, std::size_t n) override {
        writes_.push_back(n);
        if (!writeLeft_) return inner_->Write(b, n);
        std::size_t allowed =
            static_cast<std::size_t>(std::min<std::int64_t>(*writeLeft_, static_cast<std::int64_t>(n)));
        std::size_t written = inner_->Write(b, allowed);
        *writeLeft_ -= static_cast<std::int64_t>(written);
        return written;
    }
    bool Sync() override { return inner_->Sync(); }
    std::int64_t Size() override { return inner_->Size(); }
    std::int64_t Position() override { return inner_->Position(); }
    bool Seek(std::int64_t p) override { return inner_->Seek(p); }
    std::string Identity() override { return inner_->Identity(); }

private:
    std::unique_ptr<FileStream> inner_;
    std::optional<std::int64_t> writeLeft_, readLimit_;
    std::vector<std::size_t>& writes_;
};

// The sandbox platform, with HTTP answered from a script, optional limits
// on the bytes files accept or give, and moves that can be refused.
class ScriptedPlatform final : public Platform {
public:
    explicit ScriptedPlatform(Platform& real) : real_(real) {}

    std::map<std::string, ScriptedReply> replies;  // by URL; a URL not listed cannot be opened
    bool internetFails = false;
    std::optional<std::int64_t> writeLimit;  // for each file created
    std::optional<unsigned> lockWaitMs;      // in place of the run's own wait for another run
    std::optional<std::int64_t> readLimit;   // for each file opened for reading
    std::string refusedMoveTo;               // a move of a staged file to this path fails
    std::string runningProgram;              // a move over this path fails while it is there, as on Windows
    std::size_t endAtMove = SIZE_MAX;        // the process ends, as if killed, before this try of a move (from 0)
    std::function<void(const std::string&)> afterOpen;  // each file opened for reading, once it is open
    std::vector<std::string> agents, opened;
    std::vector<std::string> movedTo;    // targets of the moves made, in order
    std::size_t moveTries = 0;           // every MoveOver, made or refused
    std::vector<std::size_t> requested;  // the count of every Read
    std::vector<std::size_t> writes;     // the count of every file write

    bool MakeFolder(const std::string& p) override { return real_.MakeFolder(p); }
    bool FolderExists(const std::string& p) override { return real_.FolderExists(p); }
    bool FileExists(const std::string& p) override { return real_.FileExists(p); }
    bool RemoveFile(const std::string& p) override { return real_.RemoveFile(p); }
    bool CopyFileOver(const std::string& f, const std::string& t) override { return real_.CopyFileOver(f, t); }
    bool MoveOver(const std::string& f, const std::string& t) override {
        if (moveTries++ == endAtMove) std::_Exit(0);
        if ((t == refusedMoveTo && f.ends_with(".qlrtmp")) || (t == runningProgram && real_.FileExists(t)) ||
            !real_.MoveOver(f, t))
            return false;
        movedTo.push_back(t);
        return true;
    }
    bool DeleteFolderTree(const std::string& p) override { return real_.DeleteFolderTree(p); }
    std::unique_ptr<FileStream> OpenForRead(const std::string& p) override {
        return Opened(p, Faulty(real_.OpenForRead(p), std::nullopt, readLimit));
    }
    std::unique_ptr<FileStream> OpenAndHold(const std::string& p) override {
        return Opened(p, Faulty(real_.OpenAndHold(p), std::nullopt, readLimit));
    }
    std::unique_ptr<FileStream> CreateNewFile(const std::string& p) override {
        return Faulty(real_.CreateNewFile(p), writeLimit, std::nullopt);
    }
    std::unique_ptr<FileStream> CreateFileExclusive(const std::string& p) override {
        return Faulty(real_.CreateFileExclusive(p), writeLimit, std::nullopt);
    }
    bool AppendToFile(const std::string& p, const std::string& t) override { return real_.AppendToFile(p, t); }
    bool SetCurrentFolder(const std::string& p) override { return real_.SetCurrentFolder(p); }
    std::string CurrentFolder() override { return real_.CurrentFolder(); }
    std::vector<std::string> ListFiles(const std::string& m) override { return real_.ListFiles(m); }
    std::unique_ptr<Process> SpawnProcess(const std::string& c, const std::string& p) override {
        return real_.SpawnProcess(c, p);
    }
    std::unique_ptr<MachineLock> LockMachine(unsigned waitMs) override {
        return real_.LockMachine(lockWaitMs.value_or(waitMs));
    }
    std::optional<std::string> UserName(std::uint32_t n) override { return real_.UserName(n); }
    std::string OwnPath() override { return real_.OwnPath(); }
    std::string SystemFolder() override { return real_.SystemFolder(); }
    std::string CommandLine() override { return real_.CommandLine(); }
    std::string LocalDateTimeText() override { return real_.LocalDateTimeText(); }
    // Simulated time: every read of a response takes msPerRead.
    std::uint64_t msPerRead = 0;
    std::uint64_t TickMs() override { return requested.size() * msPerRead; }
    std::unique_ptr<RegistryKey> OpenRegistryKey(RegistryRoot r, const std::string& p, bool c) override {
        return real_.OpenRegistryKey(r, p, c);
    }
    std::unique_ptr<HttpSession> OpenInternet(const std::string& agent) override;
    std::unique_ptr<ShellLink> CreateShellLink() override { return real_.CreateShellLink(); }
    std::unique_ptr<NativeWindow> CreateMainWindow(const Bounds&, const std::string&) override { return nullptr; }
    void StartTimer(unsigned, std::function<void()>) override {}
    void StopTimer() override {}
    void RunMessageLoop() override {}
    void ProcessMessages() override {}
    void Terminate() override {}
    bool Terminated() override { return false; }
    void Sleep(unsigned) override {}
    void ReportFailure(const std::string&) override {}

private:
    std::unique_ptr<FileStream> Opened(const std::string& path, std::unique_ptr<FileStream> file) {
        if (file && afterOpen) afterOpen(path);
        return file;
    }
    std::unique_ptr<FileStream> Faulty(std::unique_ptr<FileStream> file, std::optional<std::int64_t> writeLimit,
                                       std::optional<std::int64_t> readLimit) {
        if (!file) return nullptr;
        return std::make_unique<LimitedStream>(std::move(file), writeLimit, readLimit, writes);
    }

    Platform& real_;
};

class ScriptedSession final : public HttpSession {
public:
    explicit ScriptedSession(ScriptedPlatform& platform) : platform_(platform) {}
    std::unique_ptr<HttpResponse> OpenUrl(const std::string& url) override {
        platform_.opened.push_back(url);
        auto reply = platform_.replies.find(url);
        if (reply == platform_.replies.end()) return nullptr;
        return std::make_unique<ScriptedResponse>(reply->second, platform_.requested);
    }

private:
    ScriptedPlatform& platform_;
};

inline std::unique_ptr<HttpSession> ScriptedPlatform::OpenInternet(const std::string& agent) {
    agents.push_back(agent);
    if (internetFails) return nullptr;
    return std::make_unique<ScriptedSession>(*this);
}

// ---- commands, plain GETs, and nginx ---------------------------------------

struct Outcome {
    int status = -1;
    std::string output;
};

// Runs a shell command line; its standard output and error together.
inline Outcome Shell(const std::string& command) {
    Outcome outcome;
    std::FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return outcome;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) outcome.output.append(buffer, n);
    int status = pclose(pipe);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

inline std::string Quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

inline std::string Get(const std::string& url) {
    auto response = sandbox::OpenCurlSession("QLR")->OpenUrl(url);
    if (!response) return "<cannot open>";
    std::string body;
    char buffer[8192];
    for (HttpRead read; (read = response->Read(buffer, sizeof buffer)).count > 0;) body.append(buffer, read.count);
    return body;
}

// nginx with the shipped deploy/nginx/qlr.conf over a folder, as an ordinary
// process on a free loopback port (scripts/nginx-local.sh); HTTPS with a
// certificate and key.
class NginxServer {
public:
    explicit NginxServer(const std::filesystem::path& root, const std::string& cert = "", const std::string& key = "") {
        std::string pattern = (std::filesystem::temp_directory_path() / "qlr-nginx-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make an nginx folder");
        dir_ = pattern;
        Outcome started = Shell(Script() + " start " + Quoted(dir_.string()) + " " + Quoted(root.string()) +
                                (cert.empty() ? "" : " " + Quoted(cert) + " " + Quoted(key)));
        if (started.status != 0) throw std::runtime_error("nginx did not start: " + started.output);
        baseUrl_ = started.output.substr(0, started.output.find('\n'));
    }
    ~NginxServer() {
        Shell(Script() + " stop " + Quoted(dir_.string()));
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    const std::string& BaseUrl() const { return baseUrl_; }
    std::string Environment() const { return "QLR_UPDATE_BASE_URL=" + baseUrl_; }
    // nginx's check-in log: check-ins and package downloads (written as each request ends).
    std::string Log() const {
        std::error_code ec;
        return std::filesystem::exists(dir_ / "checkins.log", ec) ? FileBytes(dir_ / "checkins.log") : "";
    }

private:
    static std::string Script() { return Quoted(std::string(QLR_SOURCE_DIR) + "/scripts/nginx-local.sh"); }

    std::filesystem::path dir_;
    std::string baseUrl_;
};

// `qlr-server ARGS`, e.g. "publish FOLDER".
inline Outcome QlrServer(const std::string& arguments) {
    return Shell(Quoted(BuiltProgram("qlr-server").string()) + " " + arguments);
}

// ---- packages --------------------------------------------------------------

// Bytes that do not compress, so a package's size is easy to steer.
inline std::string Incompressible(std::size_t size, unsigned seed) {
    std::string text(size, '\0');
    std::uint32_t state = seed * 2654435761u + 1;
    for (char& c : text) {
        state = state * 1664525u + 1013904223u;
        c = static_cast<char>(state >> 24);
    }
    return text;
}

// One entry's raw bytes with a hand-set size field, for damaged packages.
inline std::string EntryBytes(const std::string& name, std::int32_t declared, const std::string& content) {
    std::string out;
    PutInt32(out, static_cast<std::int32_t>(name.size()));
    out += name;
    PutInt32(out, declared);
    uLongf size = compressBound(content.size());
    std::string packed(size, '\0');
    compress2(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(content.data()),
              content.size(), 6);
    out.append(packed, 0, size);
    return out;
}

inline std::string CountBytes(std::int32_t count) {
    std::string out;
    PutInt32(out, count);
    return out;
}

// ---- signatures ------------------------------------------------------------

// A key file of tests/keys: the TEST release key that tovanel-testkey holds
// ("test-release-private.pem", "test-release-public.pem") or one it does not
// ("test-other-private.pem").
inline std::filesystem::path TestKey(const std::string& name) {
    return std::filesystem::path(QLR_TEST_KEYS_DIR) / name;
}

// The package followed by its signature trailer, made here by the trailer's
// layout: "QLRSIG01", int32 N, name, r||s over everything before it, int32
// trailer size, "QLRSIG01".
inline std::string SignedPackage(std::string package, const std::string& name,
                                 const std::string& privateKey = "test-release-private.pem") {
    std::string head = "QLRSIG01";
    PutInt32(head, static_cast<std::int32_t>(name.size()));
    package += head + name;
    auto hash = crypto::StartSha256();
    hash->Update(package.data(), package.size());
    const crypto::P256Signature signature = crypto::SignP256(FileBytes(TestKey(privateKey)), hash->Finish());
    package.append(reinterpret_cast<const char*>(signature.data()), signature.size());
    PutInt32(package, static_cast<std::int32_t>(8 + 4 + name.size() + 64 + 4 + 8));
    return package + "QLRSIG01";
}

}  // namespace qlr::testing
