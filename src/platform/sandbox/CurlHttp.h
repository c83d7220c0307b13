#pragma once
#include <memory>
#include <string>

#include "platform/Platform.h"

namespace qlr::sandbox {
struct CurlOptions {
    std::chrono::milliseconds timeLimit = HttpTimeLimit();
    // A PEM file of root certificates trusted beside the host's own; empty for none.
    std::string extraRoots;
};

// HTTP over libcurl: proxy from the usual variables, redirects followed,
// no cache, the body kept whatever the status, certificates and host names
// checked. nullptr when libcurl cannot start.
std::unique_ptr<HttpSession> OpenCurlSession(const std::string& agent, CurlOptions options = {});
}  // namespace qlr::sandbox
