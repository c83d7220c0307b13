#pragma once
#include <memory>
#include <string>

#include "platform/Platform.h"

namespace qlr::win32 {

// Full access in the 32-bit view, as every key of the program is opened.
std::unique_ptr<RegistryKey> OpenKey(RegistryRoot root, const std::string& path, bool create);

}  // namespace qlr::win32
