#pragma once
// The HTTP server underneath qlr-server, hardened against slow and idle
// clients: a request whose line and headers take longer than a few seconds is
// dropped, an idle connection is closed after the keep-alive time, enough
// workers serve the rest, and the listen backlog is a real one. The port is
// never shared with another process (no SO_REUSEPORT).

#include <httplib.h>

#include <string>

namespace qlr::server {

class Listener : public httplib::Server {
public:
    Listener();

    // The bound port, or -1 with a readable reason in `error`.
    int Bind(const std::string& host, int port, std::string& error);

protected:
    bool process_and_close_socket(socket_t sock) override;
};

}  // namespace qlr::server
