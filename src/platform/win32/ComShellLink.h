#pragma once
#include <memory>

#include "platform/Platform.h"

namespace qlr::win32 {
// The shell's link object (IShellLinkA + IPersistFile); throws RunError when it cannot be created.
std::unique_ptr<ShellLink> CreateComShellLink();
}  // namespace qlr::win32
