#pragma once
// Files and folders through the Win32 API, as the platform offers them.

#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace qlr::win32 {

bool IsFolder(const std::string& path);
bool IsFile(const std::string& path);
// MoveFileEx over the target, written through. A running executable can be
// moved away, but not replaced where it is.
bool MoveFileOver(const std::string& from, const std::string& to);
// SHFileOperation FO_DELETE, silent, no confirmation, no error box, no recycle bin.
bool DeleteTree(const std::string& path);
// Shared with every other opener, so another program's handle never stops a read.
std::unique_ptr<FileStream> OpenExistingForRead(const std::string& path);
// Shared with readers only: no one writes, renames or removes it while it is open.
std::unique_ptr<FileStream> OpenHeld(const std::string& path);
// Not shared while open.
std::unique_ptr<FileStream> CreateAlways(const std::string& path);
// As CreateAlways, but fails when the file exists.
std::unique_ptr<FileStream> CreateNew(const std::string& path);
// One write at the end of the file; waits out other writers holding it briefly.
bool AppendText(const std::string& path, const std::string& text);
std::string CurrentDirectory();
// Ordinary files of the current folder matching mask (long names only).
std::vector<std::string> ListCurrentFolder(const std::string& mask);
// The Windows temporary folder with a trailing backslash; empty when unknown.
std::string TempFolder();
// Overwrites path with text; false when it cannot be written whole.
bool WriteWholeFile(const std::string& path, const std::string& text);

}  // namespace qlr::win32
