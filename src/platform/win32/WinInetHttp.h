#pragma once
#include <memory>
#include <string>

#include "platform/Platform.h"

namespace qlr::win32 {
// WinInet: the system's proxy configuration, INTERNET_FLAG_RELOAD.
// nullptr when the Internet layer cannot start.
std::unique_ptr<HttpSession> OpenWinInetSession(const std::string& agent);
}  // namespace qlr::win32
