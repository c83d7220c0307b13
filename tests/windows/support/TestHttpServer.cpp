#include "windows/support/TestHttpServer.h"

namespace qlr::testing {

TestHttpServer::TestHttpServer(std::map<std::string, std::string> bodies)
    : bodies_(std::move(bodies)), server_([this](const std::string& target, const std::string&) {
          const auto found = bodies_.find(target.substr(0, target.find('?')));
          if (found == bodies_.end()) return FaultReply(HttpReply("404 Not Found", "Not found"));
          return FaultReply(HttpReply("200 OK", found->second, "Content-Type: application/octet-stream\r\n"));
      }) {}

std::string TestHttpServer::BaseUrl() const { return server_.Origin() + "/"; }

std::vector<std::string> TestHttpServer::Requests() {
    std::vector<std::string> targets;
    for (const std::string& head : server_.Requests()) {
        const auto first = head.find(' ') + 1;
        targets.push_back(head.substr(first, head.find(' ', first) - first));
    }
    return targets;
}

}  // namespace qlr::testing
