#include "Listener.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <thread>
#include <unordered_map>
#include <vector>

namespace qlr::server {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using sandbox::UniqueFd;

constexpr auto kIdleLimit = 5s;    // between requests
constexpr auto kHeadLimit = 5s;    // a request line and headers, whole; a TLS handshake
constexpr auto kSendLimit = 60s;   // a reply that goes nowhere
constexpr auto kLingerLimit = 2s;  // reading what a refused client still sends
constexpr auto kSweepEvery = 250ms;
constexpr std::size_t kHeadBytes = 16 * 1024;
constexpr std::size_t kReceiveBytes = 16 * 1024;
constexpr std::size_t kTlsPiece = 64 * 1024;
constexpr std::uint64_t kSendfileBytes = std::uint64_t{1} << 30;
constexpr int kRequestsPerConnection = 1000;
constexpr int kAcceptsPerWake = 64;
constexpr int kEventsPerWait = 128;
constexpr std::uint64_t kListenKey = std::numeric_limits<std::uint64_t>::max(), kStopKey = kListenKey - 1,
                        kChangeKey = kListenKey - 2;
constexpr long kWouldBlock = -1;

struct TlsFree {
    void operator()(SSL* tls) const { SSL_free(tls); }
    void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
using Tls = std::unique_ptr<SSL, TlsFree>;
using TlsContext = std::unique_ptr<SSL_CTX, TlsFree>;

// Draining: after the last reply, what the client still sends is read and dropped, so that
// closing with unread bytes does not reset the connection before the client has read the reply.
enum class Phase { Handshake, Reading, Writing, Draining };
enum class Step { Next, Wait, End };

struct Connection {
    UniqueFd socket;  // first: closed after the TLS state that uses it
    Tls tls;
    std::string address;
    Phase phase = Phase::Reading;
    // What edge-triggered epoll last said; a connection is watched only once it has to wait.
    bool readable = true, writable = true, watched = false;
    bool started = false;  // the next request's first bytes are in
    Clock::time_point deadline;
    int served = 0;
    std::string in;
    std::size_t scanned = 0;  // of `in`, for the end of a head
    // The reply in flight: its head (and a body held in memory), then a part of a file.
    Reply reply;
    std::string out;
    std::size_t outAt = 0, headBytes = 0;
    std::uint64_t fileAt = 0, fileEnd = 0;
    bool closeAfter = false, linger = false;
    std::unique_ptr<char[]> piece;
    std::size_t pieceAt = 0, pieceEnd = 0;

    std::uint64_t BodySent() const {
        const std::uint64_t fromOut = outAt > headBytes ? outAt - headBytes : 0;
        return fromOut + (fileEnd > 0 ? fileAt - reply.offset : 0);
    }
};

std::string AddressText(const sockaddr_storage& address) {
    char text[INET6_ADDRSTRLEN] = "";
    if (address.ss_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(address).sin_addr, text, sizeof text);
    else if (address.ss_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(address).sin6_addr, text, sizeof text);
    return text;
}

// Many slow clients need many descriptors: up to the hard limit.
void RaiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace

struct Listener::Shared {
    Handler handler;
    TlsContext tls;
    UniqueFd listening;
    UniqueFd stop{eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
    int changes = -1;
    std::function<void()> changed;
};

namespace {

class Loop {
public:
    explicit Loop(Listener::Shared& shared) : shared_(shared), epoll_(epoll_create1(EPOLL_CLOEXEC)) {
        if (!epoll_ || !shared_.stop)
            throw std::runtime_error(std::string("cannot wait for events: ") + strerror(errno));
        epoll_event stop{EPOLLIN, {.u64 = kStopKey}};
        epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, shared_.stop.get(), &stop);
        epoll_event change{EPOLLIN, {.u64 = kChangeKey}};
        if (shared_.changes >= 0) epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, shared_.changes, &change);
        Accepting(true);
    }

    void Run() {
        epoll_event events[kEventsPerWait];
        auto sweep = Clock::now() + kSweepEvery;
        for (;;) {
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(sweep - Clock::now()).count();
            const int count =
                epoll_wait(epoll_.get(), events, kEventsPerWait, static_cast<int>(std::max<long>(wait, 0)));
            if (count < 0 && errno != EINTR) break;
            // A change that is in is taken in before the requests that came with it.
            if (std::any_of(events, events + std::max(count, 0),
                            [](const epoll_event& e) { return e.data.u64 == kChangeKey; }))
                shared_.changed();
            for (int i = 0; i < count; ++i) {
                const std::uint64_t key = events[i].data.u64;
                if (key == kChangeKey) continue;
                if (key == kStopKey) return CloseAll();
                if (key == kListenKey) {
                    Accept();
                    continue;
                }
                auto found = connections_.find(static_cast<int>(key));
                if (found == connections_.end()) continue;
                Connection& c = *found->second;
                const std::uint32_t what = events[i].events;
                if (what & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) c.readable = true;
                if (what & (EPOLLOUT | EPOLLHUP | EPOLLERR)) c.writable = true;
                Drive(c);
            }
            if (Clock::now() >= sweep) {
                Sweep();
                sweep = Clock::now() + kSweepEvery;
            }
        }
        CloseAll();
    }

private:
    // Out of descriptors: stop taking connections until the next sweep frees some.
    void Accepting(bool on) {
        epoll_event listen{EPOLLIN | EPOLLEXCLUSIVE, {.u64 = kListenKey}};
        if (on != paused_) return;
        epoll_ctl(epoll_.get(), on ? EPOLL_CTL_ADD : EPOLL_CTL_DEL, shared_.listening.get(), &listen);
        paused_ = !on;
    }

    void Accept() {
        for (int i = 0; i < kAcceptsPerWake; ++i) {
            sockaddr_storage address{};
            socklen_t length = sizeof address;
            const int fd = accept4(shared_.listening.get(), reinterpret_cast<sockaddr*>(&address), &length,
                                   SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) {
                if (errno == EINTR || errno == ECONNABORTED) continue;
                if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) Accepting(false);
                return;
            }
            auto owned = std::make_unique<Connection>();
            Connection& c = *owned;
            c.socket = UniqueFd(fd);
            c.address = AddressText(address);
            c.deadline = Clock::now() + kIdleLimit;
            if (shared_.tls) {
                c.tls.reset(SSL_new(shared_.tls.get()));
                if (!c.tls || SSL_set_fd(c.tls.get(), fd) != 1) continue;
                SSL_set_accept_state(c.tls.get());
                c.phase = Phase::Handshake;
                c.deadline = Clock::now() + kHeadLimit;
                const int on = 1;  // the handshake's flights are small writes
                setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            }
            connections_.emplace(fd, std::move(owned));
            Drive(c);
        }
    }

    void Drive(Connection& c) {
        for (;;) {
            Step step = Step::End;
            switch (c.phase) {
                case Phase::Handshake: step = Handshake(c); break;
                case Phase::Reading: step = Read(c); break;
                case Phase::Writing: step = Write(c); break;
                case Phase::Draining: step = Drain(c); break;
            }
            if (step == Step::End) return Close(c);
            if (step == Step::Wait) {
                if (!c.watched) {
                    epoll_event watch{EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET,
                                      {.u64 = static_cast<std::uint64_t>(c.socket.get())}};
                    if (epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, c.socket.get(), &watch) != 0) return Close(c);
                    c.watched = true;
                }
                return;
            }
        }
    }

    static Step TlsWait(Connection& c, int result) {
        switch (SSL_get_error(c.tls.get(), result)) {
            case SSL_ERROR_WANT_READ: c.readable = false; return Step::Wait;
            case SSL_ERROR_WANT_WRITE: c.writable = false; return Step::Wait;
            default: return Step::End;
        }
    }

    static Step Handshake(Connection& c) {
        ERR_clear_error();
        const int result = SSL_do_handshake(c.tls.get());
        if (result != 1) return TlsWait(c, result);
        c.phase = Phase::Reading;
        return Step::Next;
    }

    // Bytes read, 0 when the peer is gone, kWouldBlock.
    static long Receive(Connection& c, char* buffer, std::size_t size) {
        if (c.tls) {
            ERR_clear_error();
            const int n = SSL_read(c.tls.get(), buffer, static_cast<int>(size));
            if (n > 0) return n;
            return TlsWait(c, n) == Step::Wait ? kWouldBlock : 0;
        }
        if (!c.readable) return kWouldBlock;
        ssize_t n;
        do n = recv(c.socket.get(), buffer, size, 0);
        while (n < 0 && errno == EINTR);
        // A short read took all there was; edge-triggered epoll reports what comes next.
        if (n > 0 && static_cast<std::size_t>(n) < size) c.readable = false;
        if (n >= 0) return n;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return 0;
        c.readable = false;
        return kWouldBlock;
    }

    // Bytes written, 0 when the peer is gone, kWouldBlock.
    static long Send(Connection& c, const char* data, std::size_t size, bool more) {
        if (c.tls) {
            ERR_clear_error();
            const int n = SSL_write(c.tls.get(), data, static_cast<int>(std::min<std::size_t>(size, INT32_MAX)));
            if (n > 0) return n;
            return TlsWait(c, n) == Step::Wait ? kWouldBlock : 0;
        }
        if (!c.writable) return kWouldBlock;
        ssize_t n;
        do n = send(c.socket.get(), data, size, MSG_NOSIGNAL | (more ? MSG_MORE : 0));
        while (n < 0 && errno == EINTR);
        if (n > 0) return n;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            c.writable = false;
            return kWouldBlock;
        }
        return 0;
    }

    Step Read(Connection& c) {
        if (Answer(c)) return Step::Next;
        if (c.in.size() >= kHeadBytes) {
            Refuse(c, 431, false, false);
            return Step::Next;
        }
        char buffer[kReceiveBytes];
        const long got = Receive(c, buffer, sizeof buffer);
        if (got == kWouldBlock) return Step::Wait;
        if (got == 0) return Step::End;
        if (!c.started) {
            c.started = true;
            c.deadline = Clock::now() + kHeadLimit;
        }
        c.in.append(buffer, static_cast<std::size_t>(got));
        return Step::Next;
    }

    // Takes a whole request head from what was received and starts its reply.
    bool Answer(Connection& c) {
        const std::size_t end = HeadEnd(c.in, c.scanned);
        if (end == std::string::npos) {
            c.scanned = c.in.size() < 3 ? 0 : c.in.size() - 3;
            return false;
        }
        c.scanned = 0;
        Request request;
        request.remoteAddress = c.address;
        const int refused = ParseHead(std::string_view(c.in).substr(0, end), request.head);
        c.in.erase(0, end);
        const bool head = request.head.method == "HEAD";
        if (refused != 0) {
            Refuse(c, refused, false, false);
        } else if (request.head.method != "GET" && !head) {
            Refuse(c, 405, head, request.head.http10);
        } else if (request.head.hasBody) {  // never read, so never taken for the next request
            Refuse(c, 400, head, request.head.http10);
        } else {
            c.reply = Reply{};
            try {
                shared_.handler(request, c.reply);
            } catch (const std::exception&) {
                c.reply = Reply{};
                c.reply.status = 500;
            }
            Start(c, request.head.keepAlive, request.head.http10, head);
        }
        return true;
    }

    void Refuse(Connection& c, int status, bool head, bool http10) {
        c.reply = Reply{};
        c.reply.status = status;
        c.reply.headers =
            status == 405 ? "Allow: GET, HEAD\r\nContent-Type: text/plain\r\n" : "Content-Type: text/plain\r\n";
        c.reply.body = std::to_string(status) + " " + StatusText(status) + "\n";
        c.in.clear();
        c.scanned = 0;
        Start(c, false, http10, head);
        c.linger = true;
    }

    void Start(Connection& c, bool keepAlive, bool http10, bool head) {
        Reply& reply = c.reply;
        const bool inFile = static_cast<bool>(reply.file);
        const std::uint64_t length = inFile ? reply.length : reply.body.size();
        c.closeAfter = !keepAlive || ++c.served >= kRequestsPerConnection;
        c.out = "HTTP/1.1 " + std::to_string(reply.status) + " " + StatusText(reply.status) + "\r\nDate: " + Date() +
                "\r\n" + reply.headers + "Content-Length: " + std::to_string(length) + "\r\n" +
                (c.closeAfter ? "Connection: close\r\n"
                 : http10     ? "Connection: keep-alive\r\n"
                              : "") +
                "\r\n";
        c.headBytes = c.out.size();
        c.outAt = 0;
        if (!head && !inFile) c.out += reply.body;
        c.fileAt = reply.offset;
        c.fileEnd = inFile && !head ? reply.offset + reply.length : 0;
        if (c.fileEnd > 0 && c.tls && !c.piece) c.piece = std::make_unique<char[]>(kTlsPiece);
        c.pieceAt = c.pieceEnd = 0;
        c.linger = false;
        c.phase = Phase::Writing;
        c.deadline = Clock::now() + kSendLimit;
    }

    Step Write(Connection& c) {
        while (c.outAt < c.out.size()) {
            const long n = Send(c, c.out.data() + c.outAt, c.out.size() - c.outAt, c.fileEnd > 0);
            if (n == kWouldBlock) return Step::Wait;
            if (n == 0) return Step::End;
            c.outAt += static_cast<std::size_t>(n);
            c.deadline = Clock::now() + kSendLimit;
        }
        while (c.fileAt < c.fileEnd) {
            const long n = c.tls ? SendPiece(c) : SendFile(c);
            if (n == kWouldBlock) return Step::Wait;
            if (n == 0) return Step::End;
            c.fileAt += static_cast<std::uint64_t>(n);
            c.deadline = Clock::now() + kSendLimit;
        }
        Finish(c, true);
        if (c.closeAfter && (c.linger || !c.in.empty())) {
            if (c.tls) SSL_shutdown(c.tls.get());
            shutdown(c.socket.get(), SHUT_WR);
            c.phase = Phase::Draining;
            c.deadline = Clock::now() + kLingerLimit;
            return Step::Next;
        }
        if (c.closeAfter) return Step::End;
        c.phase = Phase::Reading;
        c.started = !c.in.empty();
        c.deadline = Clock::now() + (c.started ? kHeadLimit : kIdleLimit);
        c.out.clear();
        return Step::Next;
    }

    static Step Drain(Connection& c) {
        char buffer[kReceiveBytes];
        for (;;) {
            if (!c.readable) return Step::Wait;
            const ssize_t n = recv(c.socket.get(), buffer, sizeof buffer, 0);
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) return Step::End;
            if (n < 0 && errno != EINTR) c.readable = false;
        }
    }

    static long SendFile(Connection& c) {
        if (!c.writable) return kWouldBlock;
        auto at = static_cast<off_t>(c.fileAt);
        ssize_t n;
        do n = sendfile(c.socket.get(), c.reply.file.get(), &at, std::min(c.fileEnd - c.fileAt, kSendfileBytes));
        while (n < 0 && errno == EINTR);
        if (n > 0) return n;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            c.writable = false;
            return kWouldBlock;
        }
        return 0;  // failed, or the file is shorter than it was
    }

    static long SendPiece(Connection& c) {
        if (c.pieceAt == c.pieceEnd) {
            ssize_t n;
            do
                n = pread(c.reply.file.get(), c.piece.get(), std::min<std::uint64_t>(c.fileEnd - c.fileAt, kTlsPiece),
                          static_cast<off_t>(c.fileAt));
            while (n < 0 && errno == EINTR);
            if (n <= 0) return 0;
            c.pieceAt = 0;
            c.pieceEnd = static_cast<std::size_t>(n);
        }
        const long n = Send(c, c.piece.get() + c.pieceAt, c.pieceEnd - c.pieceAt, false);
        if (n > 0) c.pieceAt += static_cast<std::size_t>(n);
        return n;
    }

    static void Finish(Connection& c, bool complete) {
        if (auto done = std::exchange(c.reply.done, nullptr)) done(c.BodySent(), complete);
        c.reply.file.Reset();
    }

    void Close(Connection& c) {
        if (c.phase == Phase::Writing) Finish(c, false);
        if (c.tls && (c.phase == Phase::Reading || c.phase == Phase::Writing))
            SSL_shutdown(c.tls.get());  // best effort: one close_notify
        connections_.erase(c.socket.get());
    }

    void CloseAll() {
        while (!connections_.empty()) Close(*connections_.begin()->second);
    }

    void Sweep() {
        const auto now = Clock::now();
        std::vector<int> late;
        for (const auto& [fd, c] : connections_)
            if (now >= c->deadline) late.push_back(fd);
        for (int fd : late) Close(*connections_.at(fd));
        Accepting(true);
    }

    const std::string& Date() {
        const std::time_t now = std::time(nullptr);
        if (now != dateTime_) {
            date_ = HttpDate(now);
            dateTime_ = now;
        }
        return date_;
    }

    Listener::Shared& shared_;
    UniqueFd epoll_;
    bool paused_ = true;
    std::unordered_map<int, std::unique_ptr<Connection>> connections_;
    std::time_t dateTime_ = 0;
    std::string date_;
};

}  // namespace

Listener::Listener(Handler handler, const std::string& certificate, const std::string& key)
    : shared_(std::make_unique<Shared>()) {
    shared_->handler = std::move(handler);
    if (certificate.empty()) return;
    TlsContext context(SSL_CTX_new(TLS_server_method()));
    if (!context || SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION) != 1 ||
        SSL_CTX_use_certificate_chain_file(context.get(), certificate.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(context.get(), key.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(context.get()) != 1) {
        ERR_clear_error();
        throw std::runtime_error("cannot use the certificate " + certificate + " with the key " + key);
    }
    // Idle connections keep no buffers; a write that must wait is retried from where its bytes are then.
    SSL_CTX_set_mode(context.get(),
                     SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER | SSL_MODE_RELEASE_BUFFERS);
    shared_->tls = std::move(context);
}

Listener::~Listener() = default;

int Listener::Bind(const std::string& host, int port, std::string& error) {
    RaiseDescriptorLimit();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (const int failed = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found); failed != 0) {
        error = gai_strerror(failed);
        return -1;
    }
    int reason = EADDRNOTAVAIL;
    for (addrinfo* at = found; at && !shared_->listening; at = at->ai_next) {
        UniqueFd sock(socket(at->ai_family, at->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, at->ai_protocol));
        const int yes = 1;  // a restart may bind while old connections linger; another listener is still refused
        if (sock && setsockopt(sock.get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) == 0 &&
            bind(sock.get(), at->ai_addr, at->ai_addrlen) == 0 && listen(sock.get(), 1024) == 0)
            shared_->listening = std::move(sock);
        else
            reason = errno;
    }
    freeaddrinfo(found);
    if (!shared_->listening) {
        error = reason == EADDRINUSE ? "the port is already in use" : std::strerror(reason);
        return -1;
    }
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    getsockname(shared_->listening.get(), reinterpret_cast<sockaddr*>(&bound), &length);
    return ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(bound).sin6_port
                                             : reinterpret_cast<sockaddr_in&>(bound).sin_port);
}

void Listener::Run() {
    const unsigned count = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
    std::vector<std::unique_ptr<Loop>> loops;
    for (unsigned i = 0; i < count; ++i) loops.push_back(std::make_unique<Loop>(*shared_));
    std::vector<std::thread> threads;
    for (unsigned i = 1; i < count; ++i) threads.emplace_back([&loop = *loops[i]] { loop.Run(); });
    loops[0]->Run();
    for (auto& thread : threads) thread.join();
}

void Listener::WatchChanges(int fd, std::function<void()> changed) {
    shared_->changes = fd;
    shared_->changed = std::move(changed);
}

void Listener::Stop() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = write(shared_->stop.get(), &one, sizeof one);
}

}  // namespace qlr::server
