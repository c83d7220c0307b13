#include "platform/win32/WinInetHttp.h"

namespace qlr::win32 {
std::unique_ptr<HttpSession> OpenWinInetSession(const std::string& agent) {
    (void)agent;
    return nullptr;  // placeholder until the WinInet session lands
}
}  // namespace qlr::win32
