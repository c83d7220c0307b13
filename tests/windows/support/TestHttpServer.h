#pragma once
// A well-behaved HTTP server on 127.0.0.1 for tests that run inside Wine: it
// answers GET requests from a table of paths (404 otherwise) and records
// every request target, query included.

#include <map>
#include <string>
#include <vector>

#include "common/FaultServer.h"

namespace qlr::testing {

class TestHttpServer {
public:
    // path (without the query) -> body
    explicit TestHttpServer(std::map<std::string, std::string> bodies);

    // "http://127.0.0.1:<port>/"
    std::string BaseUrl() const;
    std::vector<std::string> Requests();

private:
    std::map<std::string, std::string> bodies_;
    FaultServer server_;
};

}  // namespace qlr::testing
