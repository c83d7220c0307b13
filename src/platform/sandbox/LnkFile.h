#pragma once
#include <string>

namespace qlr::sandbox {
// The bytes of a shell link (.lnk) file whose target is targetPath.
std::string ShellLinkFileBytes(const std::string& targetPath);
}  // namespace qlr::sandbox
