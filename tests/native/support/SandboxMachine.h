#pragma once
// A fresh sandbox machine for whole runs: a temporary root made by
// `tovanel --init`, the built programs copied to Windows paths, runs of the
// real executable, and what they left behind read back.

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace qlr::testing {

// A test-only address where nothing listens: update checks fail fast and predictably.
inline constexpr const char* kUnreachableServer = "http://127.0.0.1:9/";

class SandboxMachine {
public:
    explicit SandboxMachine(const std::string& user = "office");
    ~SandboxMachine();
    SandboxMachine(const SandboxMachine&) = delete;
    SandboxMachine& operator=(const SandboxMachine&) = delete;

    const std::filesystem::path& Root() const { return root_; }
    const std::string& User() const { return user_; }
    // Host path of a Windows path; components match existing ones case-insensitively.
    std::filesystem::path Host(const std::string& windowsPath) const;

    void Write(const std::string& windowsPath, const std::string& content);  // makes the folders
    std::string Read(const std::string& windowsPath) const;
    bool Exists(const std::string& windowsPath) const;
    void MakeFolders(const std::string& windowsPath);
    void Deny(const std::string& line);  // a line of the sandbox's denial file

    // program: "tovanel", or "tovanel-testkey" for the build that holds the test release key.
    void PlaceTovanel(const std::string& windowsPath, const std::string& program = "tovanel");
    void PlaceStandin(const std::string& windowsPath);
    // The startup program and the school database: the early launch can happen.
    void PlaceFoundation();

    struct RunResult {
        int exitCode = -1;
        std::string output;  // standard output and error
    };
    // Runs the copy at windowsPath and waits for it; extra "NAME=VALUE" environment entries.
    RunResult Run(const std::string& windowsPath, const std::vector<std::string>& environment = {},
                  const std::vector<std::string>& arguments = {});
    // The same in halves, for runs that overlap: Start returns at once with
    // the run's number, Output is what it has printed so far, Finish waits.
    int Start(const std::string& windowsPath, const std::vector<std::string>& environment = {},
              const std::vector<std::string>& arguments = {});
    std::string Output(int run) const;
    RunResult Finish(int run);

    // The saved run log of a role ("Startup", "Setup", "Bootstrap"), bytes as written.
    std::string Log(const std::string& role) const;
    bool HasLog(const std::string& role) const;
    // Waits until that many log files / standin records exist (programs started without waiting).
    bool WaitForLog(const std::string& role, std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;
    std::vector<std::string> StandinRuns(std::size_t expected = 0,
                                         std::chrono::milliseconds timeout = std::chrono::seconds(15)) const;

    // The sandbox platform over this root, in this process (registry and file set-up).
    Platform& platform();

private:
    std::filesystem::path OutputFile(int run) const;

    std::string user_;
    std::filesystem::path root_;
    std::unique_ptr<Platform> platform_;
    std::vector<int> started_;  // process ids, by run number
};

// Lines of a CR LF text; a final CR LF gives no extra empty line.
std::vector<std::string> CrLfLines(const std::string& text);
// The built program of that name (tovanel, standin, qlrpak, qlr-server).
std::filesystem::path BuiltProgram(const std::string& name);

}  // namespace qlr::testing
