#pragma once
// A loopback HTTP server for both test suites (POSIX natively, Winsock under
// Wine) that answers each request with exactly the bytes a test gives and
// then misbehaves on purpose: it closes, resets, holds the connection
// without a word, or trickles the rest one byte at a time, ending or not. Every
// connection has its own thread, so a held one never blocks the next; all
// end when the server goes.

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <functional>
#include <list>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace qlr::testing {

struct FaultReply {
    enum class Then { Close, Reset, Hold, Trickle, Drip };
    FaultReply(std::string sent, Then next = Then::Close, std::string slow = "")
        : bytes(std::move(sent)), then(next), trickled(std::move(slow)) {}
    std::string bytes;  // sent at once
    Then then = Then::Close;
    std::string trickled;  // Trickle: sent one byte every 100 ms, then the connection is closed
                           // Drip: one byte of it every 100 ms, round and round, until the client goes
};

inline std::string HttpReply(const std::string& status, const std::string& body, const std::string& headers = "") {
    return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + headers +
           "Connection: close\r\n\r\n" + body;
}

class FaultServer {
public:
#ifdef _WIN32
    using Socket = SOCKET;
    static constexpr Socket kNoSocket = INVALID_SOCKET;
    static void CloseSocket(Socket s) { ::closesocket(s); }
#else
    using Socket = int;
    static constexpr Socket kNoSocket = -1;
    static void CloseSocket(Socket s) { ::close(s); }
#endif
    // target ("/path?query") and the server's "http://127.0.0.1:PORT" -> what to answer.
    using Handler = std::function<FaultReply(const std::string& target, const std::string& origin)>;
    // The same with the whole request head, for answers that depend on its headers.
    using HeadHandler =
        std::function<FaultReply(const std::string& target, const std::string& head, const std::string& origin)>;

    explicit FaultServer(Handler handler)
        : FaultServer(HeadHandler(
              [handler = std::move(handler)](const std::string& target, const std::string&, const std::string& origin) {
                  return handler(target, origin);
              })) {}
    explicit FaultServer(HeadHandler handler) : handler_(std::move(handler)) {
#ifdef _WIN32
        WSADATA data;
        if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) throw std::runtime_error("WSAStartup failed");
#endif
        listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listener_ == kNoSocket || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener_, 16) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("test server cannot listen on loopback");
        port_ = ntohs(address.sin_port);
        acceptor_ = std::thread([this] { Accept(); });
    }

    ~FaultServer() {
        stopping_ = true;
        acceptor_.join();
        for (auto& connection : connections_) connection.join();
        CloseSocket(listener_);
#ifdef _WIN32
        ::WSACleanup();
#endif
    }
    FaultServer(const FaultServer&) = delete;
    FaultServer& operator=(const FaultServer&) = delete;

    int Port() const { return port_; }
    std::string Origin() const { return "http://127.0.0.1:" + std::to_string(port_); }
    // Whole request heads, in the order they came.
    std::vector<std::string> Requests() {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }

private:
    // True when s became readable (or closed) within ms; false on timeout.
    static bool Readable(Socket s, int ms) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(s, &set);
        timeval wait{ms / 1000, (ms % 1000) * 1000};
        return ::select(static_cast<int>(s) + 1, &set, nullptr, nullptr, &wait) > 0;
    }

    static bool SendAll(Socket s, const std::string& bytes) {
        for (std::size_t sent = 0; sent < bytes.size();) {
#ifdef _WIN32
            int n = ::send(s, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
#else
            auto n = ::send(s, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
#endif
            if (n <= 0) return false;
            sent += static_cast<std::size_t>(n);
        }
        return true;
    }

    // Waits in small steps while the client stays connected; false once it has gone.
    bool Linger(Socket s, int ms) {
        char sink[4096];
        for (int waited = 0; waited < ms && !stopping_; waited += 20) {
            if (Readable(s, 20) && ::recv(s, sink, sizeof sink, 0) <= 0) return false;
        }
        return !stopping_;
    }

    void Accept() {
        while (!stopping_) {
            if (!Readable(listener_, 50)) continue;
            Socket client = ::accept(listener_, nullptr, nullptr);
            if (client == kNoSocket) continue;
            connections_.emplace_back([this, client] { Answer(client); });
        }
    }

    void Answer(Socket client) {
        std::string head;
        char buffer[4096];
        while (head.find("\r\n\r\n") == std::string::npos && !stopping_) {
            if (!Readable(client, 50)) continue;
            const auto got = ::recv(client, buffer, sizeof buffer, 0);
            if (got <= 0) break;
            head.append(buffer, static_cast<std::size_t>(got));
        }
        if (head.find("\r\n\r\n") == std::string::npos) return CloseSocket(client);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(head);
        }
        const auto first = head.find(' ') + 1;
        const FaultReply reply = handler_(head.substr(first, head.find(' ', first) - first), head, Origin());
        bool open = SendAll(client, reply.bytes);
        switch (reply.then) {
            case FaultReply::Then::Close: break;
            case FaultReply::Then::Reset: {
                // Let what was sent arrive first, then abort: the client sees a reset, not an end.
                Linger(client, 300);
                linger abort{1, 0};
                ::setsockopt(client, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof abort);
                return CloseSocket(client);
            }
            case FaultReply::Then::Hold:
                while (open) open = Linger(client, 1000);
                break;
            case FaultReply::Then::Trickle:
                for (char c : reply.trickled) {
                    if (!open || !SendAll(client, std::string(1, c))) break;
                    open = Linger(client, 100);
                }
                break;
            case FaultReply::Then::Drip:
                for (std::size_t i = 0; open && !reply.trickled.empty(); ++i) {
                    open = SendAll(client, reply.trickled.substr(i % reply.trickled.size(), 1)) && Linger(client, 100);
                }
                break;
        }
#ifdef _WIN32
        ::shutdown(client, SD_SEND);
#else
        ::shutdown(client, SHUT_WR);
#endif
        Linger(client, 2000);  // until the client has read everything and closed
        CloseSocket(client);
    }

    HeadHandler handler_;
    Socket listener_ = kNoSocket;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptor_;
    std::list<std::thread> connections_;  // touched by the acceptor only, until it has ended
    std::mutex mutex_;
    std::vector<std::string> requests_;
};

}  // namespace qlr::testing
