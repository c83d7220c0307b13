#include "platform/sandbox/CurlHttp.h"

namespace qlr::sandbox {
std::unique_ptr<HttpSession> OpenCurlSession(const std::string& agent) {
    (void)agent;
    return nullptr;  // placeholder until the libcurl session lands
}
}  // namespace qlr::sandbox
