#pragma once
// Helpers of the update tests: a sandbox platform whose HTTP and file
// writes can be scripted, a raw loopback HTTP server that answers exactly
// the bytes it is given, and small package builders.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "install_Support.h"
#include "windows/update_LogSection.h"

namespace qlr::testing {

// ---- scripted HTTP ---------------------------------------------------------

struct ScriptedReply {
    std::string body;
    std::size_t failAfter = std::string::npos;  // a read past this many bytes fails
    std::optional<std::int64_t> announced;      // Content-Length the "server" claims
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

// Fails every write once a byte limit is reached, as a full disk would.
class LimitedStream final : public FileStream {
public:
    LimitedStream(std::unique_ptr<FileStream> inner, std::int64_t limit)
        : inner_(std::move(inner)), left_(limit) {}
    std::size_t Read(void* b, std::size_t n) override { return inner_->Read(b, n); }
    std::size_t Write(const void* b, std::size_t n) override {
        std::size_t allowed =
            static_cast<std::size_t>(std::min<std::int64_t>(left_, static_cast<std::int64_t>(n)));
        std::size_t written = inner_->Write(b, allowed);
        left_ -= static_cast<std::int64_t>(written);
        return written;
    }
    std::int64_t Size() override { return inner_->Size(); }
    std::int64_t Position() override { return inner_->Position(); }
    bool Seek(std::int64_t p) override { return inner_->Seek(p); }

private:
    std::unique_ptr<FileStream> inner_;
    std::int64_t left_;
};

// The sandbox platform, with HTTP answered from a script and an optional
// limit on the bytes any created file accepts.
class ScriptedPlatform final : public Platform {
public:
    explicit ScriptedPlatform(Platform& real) : real_(real) {}

    std::map<std::string, ScriptedReply> replies;  // by URL; a URL not listed cannot be opened
    bool internetFails = false;
    std::optional<std::int64_t> writeLimit;
    std::optional<unsigned> lockWaitMs;  // in place of the run's own wait for another run
    std::vector<std::string> agents, opened;
    std::vector<std::size_t> requested;  // the count of every Read

    bool MakeFolder(const std::string& p) override { return real_.MakeFolder(p); }
    bool FolderExists(const std::string& p) override { return real_.FolderExists(p); }
    bool FileExists(const std::string& p) override { return real_.FileExists(p); }
    bool RemoveFile(const std::string& p) override { return real_.RemoveFile(p); }
    bool CopyFileOver(const std::string& f, const std::string& t) override {
        return real_.CopyFileOver(f, t);
    }
    bool MoveOver(const std::string& f, const std::string& t) override { return real_.MoveOver(f, t); }
    bool DeleteFolderTree(const std::string& p) override { return real_.DeleteFolderTree(p); }
    std::unique_ptr<FileStream> OpenForRead(const std::string& p) override { return real_.OpenForRead(p); }
    std::unique_ptr<FileStream> CreateNewFile(const std::string& p) override {
        auto file = real_.CreateNewFile(p);
        if (file && writeLimit) return std::make_unique<LimitedStream>(std::move(file), *writeLimit);
        return file;
    }
    bool AppendToFile(const std::string& p, const std::string& t) override {
        return real_.AppendToFile(p, t);
    }
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
    std::string CommandLine() override { return real_.CommandLine(); }
    std::string LocalDateTimeText() override { return real_.LocalDateTimeText(); }
    std::unique_ptr<RegistryKey> OpenRegistryKey(RegistryRoot r, const std::string& p, bool c) override {
        return real_.OpenRegistryKey(r, p, c);
    }
    std::unique_ptr<HttpSession> OpenInternet(const std::string& agent) override;
    std::unique_ptr<ShellLink> CreateShellLink() override { return real_.CreateShellLink(); }
    std::unique_ptr<NativeWindow> CreateMainWindow(const Bounds&, const std::string&) override {
        return nullptr;
    }
    void StartTimer(unsigned, std::function<void()>) override {}
    void StopTimer() override {}
    void RunMessageLoop() override {}
    void ProcessMessages() override {}
    void Terminate() override {}
    bool Terminated() override { return false; }
    void Sleep(unsigned) override {}
    void ReportFailure(const std::string&) override {}

private:
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

// ---- a loopback server that answers raw bytes ------------------------------

// Answers each connection with the bytes that answer(requestHead) returns,
// then closes it. Records every request head.
class RawHttpServer {
public:
    explicit RawHttpServer(std::function<std::string(const std::string&)> answer)
        : answer_(std::move(answer)) {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int yes = 1;
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(listener_, 8) != 0)
            throw std::runtime_error("cannot listen on loopback");
        socklen_t length = sizeof address;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~RawHttpServer() {
        stopping_ = true;
        shutdown(listener_, SHUT_RDWR);
        close(listener_);
        thread_.join();
    }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    std::vector<std::string> Requests() {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }

private:
    void Serve() {
        while (!stopping_) {
            int client = accept(listener_, nullptr, nullptr);
            if (client < 0) return;
            std::string head;
            char buffer[4096];
            while (head.find("\r\n\r\n") == std::string::npos) {
                ssize_t n = recv(client, buffer, sizeof buffer, 0);
                if (n <= 0) break;
                head.append(buffer, static_cast<std::size_t>(n));
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                requests_.push_back(head);
            }
            const std::string reply = answer_(head);
            std::size_t sent = 0;
            while (sent < reply.size()) {
                ssize_t n = send(client, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
                if (n <= 0) break;
                sent += static_cast<std::size_t>(n);
            }
            shutdown(client, SHUT_WR);
            while (recv(client, buffer, sizeof buffer, 0) > 0) {
            }
            close(client);
        }
    }

    std::function<std::string(const std::string&)> answer_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::vector<std::string> requests_;
};

// The first line of a request head: "GET /path HTTP/1.1".
inline std::string RequestPath(const std::string& head) {
    auto start = head.find(' ') + 1;
    return head.substr(start, head.find(' ', start) - start);
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

}  // namespace qlr::testing
