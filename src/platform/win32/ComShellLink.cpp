#include "platform/win32/ComShellLink.h"

namespace qlr::win32 {
std::unique_ptr<ShellLink> CreateComShellLink() {
    throw RunError("Shell link object not available");  // placeholder until the COM link lands
}
}  // namespace qlr::win32
