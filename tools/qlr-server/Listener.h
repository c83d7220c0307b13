#pragma once
// The HTTP server underneath qlr-server, hardened against slow and idle
// clients: a request whose line and headers take longer than a few seconds is
// dropped, an idle connection is closed after the keep-alive time, enough
// workers serve the rest, and the listen backlog is a real one. The port is
// never shared with another process (no SO_REUSEPORT).

#include <httplib.h>

#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace qlr::server {

// Enough workers, and no port shared with another process.
void Harden(httplib::Server& server);

// Binds like httplib, but with a real listen backlog and a readable reason
// when the port cannot be had.
template <class Base>
class Bindable : public Base {
public:
    using Base::Base;

    // The bound port, or -1 with a readable reason in `error`.
    int Bind(const std::string& host, int port, std::string& error) {
        const int bound = port == 0 ? this->bind_to_any_port(host) : (this->bind_to_port(host, port) ? port : -1);
        if (bound < 0) {
            const int reason = errno;
            error = reason == EADDRINUSE ? "the port is already in use" : std::strerror(reason);
            return -1;
        }
        // httplib listens with a backlog of 5; a burst of schools needs more.
        ::listen(this->svr_sock_, 1024);
        return bound;
    }
};

class Listener : public Bindable<httplib::Server> {
public:
    Listener() { Harden(*this); }

protected:
    bool process_and_close_socket(socket_t sock) override;
};

// HTTPS: the same workers and backlog; TLS connections keep httplib's own
// per-read time limits instead of the plain listener's header deadline.
class TlsListener : public Bindable<httplib::SSLServer> {
public:
    TlsListener(const std::string& certificate, const std::string& key)
        : Bindable<httplib::SSLServer>(certificate.c_str(), key.c_str()) {
        Harden(*this);
        set_read_timeout(5, 0);
        set_keep_alive_timeout(5);
    }
};

}  // namespace qlr::server
