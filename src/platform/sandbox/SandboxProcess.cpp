#include "platform/sandbox/SandboxProcess.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstring>

#include "platform/sandbox/FdStream.h"
#include "platform/sandbox/UniqueFd.h"

extern char** environ;

namespace qlr::sandbox {

namespace {

constexpr std::uint32_t kStillActive = 259;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

class SpawnedProcess : public Process {
public:
    explicit SpawnedProcess(pid_t pid) : pid_(pid) {}
    // Reaps a process that has ended; one still running is left to run on.
    ~SpawnedProcess() override { Poll(); }

    std::uint32_t ExitCode() override {
        Poll();
        return ended_ ? code_ : kStillActive;
    }
    bool HasEnded() override {
        Poll();
        return ended_;
    }

private:
    void Poll() {
        if (ended_) return;
        int status = 0;
        pid_t got = waitpid(pid_, &status, WNOHANG);
        if (got != pid_) return;
        ended_ = true;
        if (WIFEXITED(status))
            code_ = static_cast<std::uint32_t>(WEXITSTATUS(status));
        else if (WIFSIGNALED(status))
            code_ = 128u + static_cast<std::uint32_t>(WTERMSIG(status));  // as shells report it
    }

    pid_t pid_;
    bool ended_ = false;
    std::uint32_t code_ = 0;
};

}  // namespace

std::vector<ProgramCandidate> ProgramCandidates(const std::string& commandLine) {
    std::vector<ProgramCandidate> candidates;
    std::size_t start = 0;
    while (start < commandLine.size() && IsBlank(commandLine[start])) ++start;
    if (start == commandLine.size()) return candidates;
    if (commandLine[start] == '"') {
        const std::size_t close = commandLine.find('"', start + 1);
        if (close == std::string::npos) {
            candidates.push_back({commandLine.substr(start + 1), std::string()});
        } else {
            candidates.push_back({commandLine.substr(start + 1, close - start - 1), commandLine.substr(close + 1)});
        }
        return candidates;
    }
    for (std::size_t i = start; i <= commandLine.size(); ++i) {
        if (i < commandLine.size() && !IsBlank(commandLine[i])) continue;
        if (i > start && !IsBlank(commandLine[i - 1]))
            candidates.push_back({commandLine.substr(start, i - start), commandLine.substr(i)});
    }
    return candidates;
}

std::string WithDefaultExtension(const std::string& program) {
    const auto nameStart = program.find_last_of("\\/:");
    const std::string name = nameStart == std::string::npos ? program : program.substr(nameStart + 1);
    return name.find('.') == std::string::npos ? program + ".exe" : program;
}

bool IsBareName(const std::string& program) { return program.find_first_of("\\/:") == std::string::npos; }

std::string ArgumentsAfter(const std::string& commandLine, const std::string& program) {
    std::size_t start = 0;
    while (start < commandLine.size() && IsBlank(commandLine[start])) ++start;
    if (commandLine.compare(start, program.size(), program) == 0) return commandLine.substr(start + program.size());
    const auto candidates = ProgramCandidates(commandLine);
    return candidates.empty() ? std::string() : candidates.front().rest;
}

std::vector<std::string> SplitArguments(const std::string& rest) {
    std::vector<std::string> arguments;
    std::string current;
    for (char c : rest) {
        if (IsBlank(c)) {
            if (!current.empty()) arguments.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) arguments.push_back(current);
    return arguments;
}

bool IsNativeExecutable(const std::string& hostPath) {
    UniqueFd fd(::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return false;
    struct stat info;
    if (fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    char magic[4] = {};
    return ReadSome(fd.get(), magic, sizeof magic).count == sizeof magic && std::memcmp(magic,
                                                                                        "\x7f"
                                                                                        "ELF",
                                                                                        4) == 0;
}

std::unique_ptr<Process> StartNative(const std::string& hostPath, const std::vector<std::string>& arguments,
                                     const std::string& hostFolder, const std::vector<std::string>& extraEnvironment) {
    if (!IsNativeExecutable(hostPath)) return nullptr;

    std::vector<std::string> argvText{hostPath};
    argvText.insert(argvText.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& text : argvText) argv.push_back(text.data());
    argv.push_back(nullptr);

    std::vector<std::string> envText;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('=') + 1);
        bool replaced = false;
        for (const auto& extra : extraEnvironment)
            if (extra.compare(0, name.size(), name) == 0) replaced = true;
        if (!replaced) envText.push_back(text);
    }
    envText.insert(envText.end(), extraEnvironment.begin(), extraEnvironment.end());
    std::vector<char*> envp;
    for (auto& text : envText) envp.push_back(text.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addchdir_np(&actions, hostFolder.c_str());
    // CREATE_NEW_PROCESS_GROUP: the child does not share our process group.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid = 0;
    const int failed = posix_spawn(&pid, hostPath.c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (failed) return nullptr;
    return std::make_unique<SpawnedProcess>(pid);
}

}  // namespace qlr::sandbox
