#pragma once
// Shell link (.lnk) files in the shell's binary format, as the Windows
// shell writes them for a link that knows only its target's local path.

#include <string>

namespace qlr::sandbox {

// The bytes of a shell link file whose target is targetPath (8-bit ANSI,
// a local path such as "c:\Program Files\x.exe"). The path ends at its
// first NUL, as a C string passed to the shell would.
std::string ShellLinkFileBytes(const std::string& targetPath);

}  // namespace qlr::sandbox
