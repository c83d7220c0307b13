#pragma once
// Windows played on a folder: DIR/drive_c is C:, as in a Wine prefix.

#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace qlr::sandbox {

struct SandboxOptions {
    std::string root;      // the sandbox root (DIR); DIR/drive_c plays C:
    bool verbose = false;  // echo the run log even when not on a terminal
};

std::unique_ptr<Platform> CreateSandboxPlatform(const SandboxOptions& options);

// Lays out a fresh machine under root whose user is userName; returns what
// it made, one line each. Existing folders and values are kept.
std::vector<std::string> InitMachine(const std::string& root, const std::string& userName);

// Adds one line to the root's denial file, e.g. "file C:\Temp\QLR\x.txt",
// "folder C:\SchoolData" or "key HKLM\Software\Firebird Project".
void DenyAccess(const std::string& root, const std::string& line);

// Parses --root, --init, --verbose, --help; then runs the program.
int SandboxMain(int argc, char** argv, int (*run)(Platform&));

}  // namespace qlr::sandbox
