#pragma once
#include <memory>

#include "platform/Platform.h"

namespace qlr::win32 {
// The shell's link object (IShellLinkA + IPersistFile) on the calling thread's
// apartment; throws RunError when it cannot be created or lacks an interface.
std::unique_ptr<ShellLink> CreateComShellLink();
}  // namespace qlr::win32
