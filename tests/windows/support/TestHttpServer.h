#pragma once
// A small HTTP/1.0 server on 127.0.0.1 for tests that run inside Wine: it
// answers GET requests from a table of paths (404 otherwise) and records
// every request target, query included.

#include <winsock2.h>

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qlr::testing {

class TestHttpServer {
public:
    // path (without the query) -> body
    explicit TestHttpServer(std::map<std::string, std::string> bodies);
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    // "http://127.0.0.1:<port>/"
    std::string BaseUrl() const;
    std::vector<std::string> Requests();

private:
    void Serve();
    void Answer(SOCKET client);

    std::map<std::string, std::string> bodies_;
    SOCKET listener_ = INVALID_SOCKET;
    int port_ = 0;
    std::mutex mutex_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

}  // namespace qlr::testing
