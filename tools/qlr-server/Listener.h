#pragma once
// The HTTP server underneath qlr-server: one event loop (epoll) per core,
// each accepting from the one listening socket and serving its connections
// to the end; files go out with sendfile (HTTPS: in pieces). A slow or idle
// client costs a descriptor and a few hundred bytes, never a thread:
// request lines and headers that take longer than 5 s are dropped, idle
// connections are closed after 5 s, and a reader that takes nothing for
// 60 s is dropped. The port is never shared with another process (no
// SO_REUSEPORT).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Http.h"
#include "platform/sandbox/UniqueFd.h"

namespace qlr::server {

struct Request {
    RequestHead head;
    std::string remoteAddress;
};

struct Reply {
    int status = 200;
    std::string headers;  // further header lines, each ending in CR LF
    std::string body;     // sent when there is no file
    sandbox::UniqueFd file;
    std::uint64_t offset = 0, length = 0;  // the part of `file` that is the body
    // Told once, when the reply ended: the body bytes that went out and whether they were all.
    std::function<void(std::uint64_t sent, bool complete)> done;
};

// Called on a loop's thread, concurrently with other loops.
using Handler = std::function<void(const Request&, Reply&)>;

class Listener {
public:
    // HTTPS when given a PEM certificate (chain) and its key; throws std::runtime_error when they cannot be used.
    explicit Listener(Handler handler, const std::string& certificate = "", const std::string& key = "");
    ~Listener();
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // The bound port, or -1 with a readable reason in `error`.
    int Bind(const std::string& host, int port, std::string& error);
    // Before Run: `changed` is called when `fd` turns readable, before any request
    // that arrives with or after that is handled.
    void WatchChanges(int fd, std::function<void()> changed);
    // Serves until Stop(); every reply in flight then ends as incomplete.
    void Run();
    // From any thread.
    void Stop();

    struct Shared;  // what the loops share

private:
    std::unique_ptr<Shared> shared_;
};

}  // namespace qlr::server
