#pragma once
// Locks and missing rights played for tests. ROOT/sandbox-denied.txt holds
// one entry a line:
//   file C:\path       the file cannot be opened, created, written, copied
//                      onto, renamed or removed
//   folder C:\path     the folder cannot be created or removed, and nothing
//                      under it can be created, removed or renamed
//   key HKLM\path      the key cannot be opened for full access (HKCU too)
// Paths are compared regardless of case.

#include <string>
#include <vector>

#include "platform/sandbox/PathMapper.h"

namespace qlr::sandbox {

inline constexpr const char* kDenialFileName = "sandbox-denied.txt";

class Denials {
public:
    // Reads the denial file afresh: tests may change it while programs run.
    Denials(const std::string& root, const PathMapper& mapper);

    // Arguments are upper-cased Windows paths as UpperKey makes them.
    bool File(const std::string& path) const;
    bool Folder(const std::string& path) const;
    bool UnderFolder(const std::string& path) const;  // strictly inside a denied folder
    // Cannot be removed or renamed (a file or a folder).
    bool Frozen(const std::string& path) const { return File(path) || Folder(path) || UnderFolder(path); }
    bool Key(const std::string& keyPath) const;  // as RegistryKeyName makes it

private:
    std::vector<std::string> files_, folders_, keys_;
};

std::string UpperKey(const std::vector<std::string>& components);
// "HKLM\Software\X" in one spelling: upper case, HKEY_... names shortened,
// no empty components.
std::string RegistryKeyName(const std::string& path);

}  // namespace qlr::sandbox
