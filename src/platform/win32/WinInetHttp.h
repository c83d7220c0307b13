#pragma once
#include <memory>
#include <string>

#include "platform/Platform.h"

namespace qlr::win32 {
// WinInet: the system's proxy configuration and root certificates,
// INTERNET_FLAG_RELOAD, and the given time limit (see HttpSession).
// nullptr when the Internet layer cannot start.
std::unique_ptr<HttpSession> OpenWinInetSession(const std::string& agent,
                                                std::chrono::milliseconds limit = HttpTimeLimit());
}  // namespace qlr::win32
