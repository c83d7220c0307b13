#pragma once
#include <memory>
#include <string>

#include "platform/Platform.h"

namespace qlr::sandbox {
// HTTP over libcurl: system proxy variables, redirects followed, no cache.
std::unique_ptr<HttpSession> OpenCurlSession(const std::string& agent);
}  // namespace qlr::sandbox
