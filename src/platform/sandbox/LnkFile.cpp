#include "platform/sandbox/LnkFile.h"

namespace qlr::sandbox {
std::string ShellLinkFileBytes(const std::string& targetPath) {
    return targetPath;  // placeholder until the shell-link writer lands
}
}  // namespace qlr::sandbox
