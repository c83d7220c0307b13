#pragma once
#include <memory>
#include <string>

#include "platform/Platform.h"

namespace qlr::win32 {

// CreateProcessA with no application name, a writable copy of the command
// line, no inherited handles, flags 0x220, this process's environment and
// current folder, and a zeroed STARTUPINFO. nullptr when the system refuses.
std::unique_ptr<Process> StartCommandLine(const std::string& commandLine);

}  // namespace qlr::win32
