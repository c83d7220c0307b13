#pragma once
#include <memory>
#include <string>

#include "platform/Platform.h"

namespace qlr::win32 {

// CreateProcessA with program as the application name (none when empty), a
// writable copy of the command line, no inherited handles, flags 0x220, this
// process's environment and current folder, and a zeroed STARTUPINFO.
// nullptr when the system refuses.
std::unique_ptr<Process> StartCommandLine(const std::string& commandLine, const std::string& program);

}  // namespace qlr::win32
