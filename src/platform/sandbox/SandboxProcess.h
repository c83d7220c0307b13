#pragma once
// Starting programs as CreateProcessA does with no application name.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace qlr::sandbox {

// One way to read the first token of a command line: the program as typed
// and the text after it.
struct ProgramCandidate {
    std::string program;
    std::string rest;
};

// A quoted first token gives one candidate; an unquoted one gives each
// prefix that ends at a blank, shortest first, and the whole line last.
std::vector<ProgramCandidate> ProgramCandidates(const std::string& commandLine);

// The candidate's file name as Windows looks for it: ".exe" added when the
// name has no extension.
std::string WithDefaultExtension(const std::string& program);

// True when the program names no folder and is looked up along the search path.
bool IsBareName(const std::string& program);

// The text after the program in a command line started with an application
// name: after program when the line begins with it, else after the first token.
std::string ArgumentsAfter(const std::string& commandLine, const std::string& program);

// The rest of a command line split at blanks, as argv entries.
std::vector<std::string> SplitArguments(const std::string& rest);

// Starts hostPath (a native executable; nullptr otherwise) in hostFolder
// with extraEnvironment ("NAME=VALUE", replacing ours) in a new process group.
std::unique_ptr<Process> StartNative(const std::string& hostPath, const std::vector<std::string>& arguments,
                                     const std::string& hostFolder, const std::vector<std::string>& extraEnvironment);

bool IsNativeExecutable(const std::string& hostPath);

}  // namespace qlr::sandbox
