#pragma once
#include <memory>
#include <string>

#include "platform/Platform.h"

namespace qlr::sandbox {
// HTTP over libcurl: proxy from the usual variables, redirects followed,
// no cache, the body kept whatever the status. nullptr when libcurl cannot start.
std::unique_ptr<HttpSession> OpenCurlSession(const std::string& agent);
}  // namespace qlr::sandbox
