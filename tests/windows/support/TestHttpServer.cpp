#include "windows/support/TestHttpServer.h"

#include <ws2tcpip.h>

#include <stdexcept>

namespace qlr::testing {

TestHttpServer::TestHttpServer(std::map<std::string, std::string> bodies) : bodies_(std::move(bodies)) {
    WSADATA data;
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) throw std::runtime_error("WSAStartup failed");
    listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    int length = sizeof address;
    if (listener_ == INVALID_SOCKET ||
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("test server cannot listen");
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
}

TestHttpServer::~TestHttpServer() {
    ::closesocket(listener_);  // ends accept()
    thread_.join();
    ::WSACleanup();
}

std::string TestHttpServer::BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

std::vector<std::string> TestHttpServer::Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void TestHttpServer::Serve() {
    for (;;) {
        SOCKET client = ::accept(listener_, nullptr, nullptr);
        if (client == INVALID_SOCKET) return;
        Answer(client);
        ::closesocket(client);
    }
}

void TestHttpServer::Answer(SOCKET client) {
    std::string request;
    char buffer[2048];
    while (request.find("\r\n\r\n") == std::string::npos) {
        const int got = ::recv(client, buffer, sizeof buffer, 0);
        if (got <= 0) return;
        request.append(buffer, got);
    }
    // "GET <target> HTTP/1.1"
    const auto first = request.find(' ');
    const auto second = request.find(' ', first + 1);
    const std::string target = request.substr(first + 1, second - first - 1);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(target);
    }
    const auto found = bodies_.find(target.substr(0, target.find('?')));
    const std::string body = found == bodies_.end() ? "Not found" : found->second;
    const std::string response =
        std::string(found == bodies_.end() ? "HTTP/1.0 404 Not Found" : "HTTP/1.0 200 OK") +
        "\r\nContent-Type: application/octet-stream\r\nContent-Length: " + std::to_string(body.size()) +
        "\r\nConnection: close\r\n\r\n" + body;
    for (std::size_t sent = 0; sent < response.size();) {
        const int n = ::send(client, response.data() + sent, static_cast<int>(response.size() - sent), 0);
        if (n <= 0) return;
        sent += n;
    }
    ::shutdown(client, SD_SEND);
}

}  // namespace qlr::testing
