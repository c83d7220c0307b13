#pragma once
#include <memory>
#include <string>

#include "platform/Platform.h"

namespace qlr::win32 {
// WinInet: preconfigured proxy, INTERNET_FLAG_RELOAD.
std::unique_ptr<HttpSession> OpenWinInetSession(const std::string& agent);
}  // namespace qlr::win32
