#include "Listener.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace qlr::server {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kHeaderLimit{5000};   // request line and headers, whole
constexpr milliseconds kReadTimeout{10000};  // any one wait for bytes after the headers
constexpr milliseconds kWriteTimeout{60000};
constexpr int kWorkers = 128;

// A socket stream whose reads also end at the header deadline while one is set.
class DeadlineStream final : public httplib::Stream {
public:
    explicit DeadlineStream(int sock) : sock_(sock) {}

    void SetHeaderDeadline(Clock::time_point deadline) { deadline_ = deadline; }
    void ClearHeaderDeadline() { deadline_ = Clock::time_point::max(); }

    // Waits up to `wait` for the first byte of a request.
    bool WaitForRequest(milliseconds wait) { return begin_ < end_ || Poll(POLLIN, wait); }

    bool is_readable() const override { return begin_ < end_ || Poll(POLLIN, ReadWait()); }
    bool is_writable() const override { return Poll(POLLOUT, kWriteTimeout); }

    ssize_t read(char* ptr, size_t size) override {
        if (begin_ == end_) {
            if (!Poll(POLLIN, ReadWait())) return -1;
            ssize_t n;
            do n = ::recv(sock_, buffer_, sizeof buffer_, 0);
            while (n < 0 && errno == EINTR);
            if (n <= 0) return n;
            begin_ = 0;
            end_ = static_cast<std::size_t>(n);
        }
        const std::size_t count = std::min(size, end_ - begin_);
        std::memcpy(ptr, buffer_ + begin_, count);
        begin_ += count;
        return static_cast<ssize_t>(count);
    }

    ssize_t write(const char* ptr, size_t size) override {
        if (!is_writable()) return -1;
        ssize_t n;
        do n = ::send(sock_, ptr, size, MSG_NOSIGNAL);
        while (n < 0 && errno == EINTR);
        return n;
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override { Address(true, ip, port); }
    void get_local_ip_and_port(std::string& ip, int& port) const override { Address(false, ip, port); }
    socket_t socket() const override { return sock_; }

private:
    milliseconds ReadWait() const {
        if (deadline_ == Clock::time_point::max()) return kReadTimeout;
        auto left = std::chrono::duration_cast<milliseconds>(deadline_ - Clock::now());
        return std::clamp(left, milliseconds(0), kReadTimeout);
    }

    bool Poll(short events, milliseconds wait) const {
        const auto until = Clock::now() + wait;
        for (;;) {
            pollfd fd{sock_, events, 0};
            auto left = std::chrono::duration_cast<milliseconds>(until - Clock::now()).count();
            int ready = ::poll(&fd, 1, static_cast<int>(std::max<long long>(left, 0)));
            if (ready > 0) return true;
            if (ready == 0 || errno != EINTR) return false;
        }
    }

    void Address(bool remote, std::string& ip, int& port) const {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        auto* raw = reinterpret_cast<sockaddr*>(&address);
        if ((remote ? ::getpeername(sock_, raw, &length) : ::getsockname(sock_, raw, &length)) != 0) return;
        char host[NI_MAXHOST];
        char service[NI_MAXSERV];
        if (::getnameinfo(raw, length, host, sizeof host, service, sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) !=
            0)
            return;
        ip = host;
        port = std::atoi(service);
    }

    int sock_;
    Clock::time_point deadline_ = Clock::time_point::max();
    char buffer_[4096];
    std::size_t begin_ = 0, end_ = 0;
};

}  // namespace

void Harden(httplib::Server& server) {
    // The pool is owned and deleted by httplib::Server.
    server.new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
    server.set_socket_options([](socket_t sock) {
        int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
}

bool Listener::process_and_close_socket(socket_t sock) {
    DeadlineStream stream(sock);
    bool closed = false;
    for (std::size_t left = keep_alive_max_count_; left > 0 && !closed && is_running(); --left) {
        if (!stream.WaitForRequest(std::chrono::seconds(keep_alive_timeout_sec_))) break;
        stream.SetHeaderDeadline(Clock::now() + kHeaderLimit);
        const bool served =
            process_request(stream, left == 1, closed, [&](httplib::Request&) { stream.ClearHeaderDeadline(); });
        stream.ClearHeaderDeadline();
        if (!served) break;
    }
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return true;
}

}  // namespace qlr::server
