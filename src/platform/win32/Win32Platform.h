#pragma once

#include <windows.h>

#include <memory>

#include "platform/Platform.h"

namespace qlr::win32 {

std::unique_ptr<Platform> CreateWin32Platform();

// COM (single-threaded apartment) and the GUI are set up around run.
int Win32Main(int (*run)(Platform&));

}  // namespace qlr::win32
