#include "native/support/SandboxMachine.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "platform/sandbox/SandboxPlatform.h"

extern char** environ;

namespace qlr::testing {

namespace fs = std::filesystem;

namespace {

bool SameIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string ReadWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
            const fs::path& outputFile) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    // Later entries replace earlier ones of the same name.
    std::vector<std::string> envStrings;
    auto put = [&envStrings](const std::string& entry) {
        const std::string name = entry.substr(0, entry.find('=') + 1);
        for (auto& existing : envStrings)
            if (existing.compare(0, name.size(), name) == 0) {
                existing = entry;
                return;
            }
        envStrings.push_back(entry);
    };
    for (char** e = environ; *e; ++e) put(*e);
    for (const auto& e : environment) put(e);
    std::vector<char*> env;
    for (auto& e : envStrings) env.push_back(e.data());
    env.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
    return pid;
}

int WaitFor(pid_t pid, const std::string& name, std::chrono::seconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            throw std::runtime_error(name + " did not end within the time allowed");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int RunAndWait(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
               const fs::path& outputFile, std::chrono::seconds timeout) {
    return WaitFor(Spawn(argv, environment, outputFile), argv[0], timeout);
}

}  // namespace

fs::path BuiltProgram(const std::string& name) { return fs::path(QLR_BIN_DIR) / name; }

std::vector<std::string> CrLfLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t cut; (cut = text.find("\r\n", start)) != std::string::npos; start = cut + 2)
        lines.push_back(text.substr(start, cut - start));
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

SandboxMachine::SandboxMachine(const std::string& user) : user_(user) {
    std::string pattern = (fs::temp_directory_path() / "qlr-machine-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a sandbox root");
    root_ = pattern;
    const fs::path log = root_ / "init-output.txt";
    int code = RunAndWait({BuiltProgram("tovanel").string(), "--root", root_.string(), "--init", user_}, {}, log,
                          std::chrono::seconds(60));
    if (code != 0) throw std::runtime_error("tovanel --init failed: " + ReadWhole(log));
}

SandboxMachine::~SandboxMachine() {
    platform_.reset();
    std::error_code ignored;
    if (!std::getenv("QLR_KEEP_SANDBOX")) fs::remove_all(root_, ignored);
}

fs::path SandboxMachine::Host(const std::string& windowsPath) const {
    std::string rest = windowsPath;
    if (rest.size() >= 2 && rest[1] == ':') rest = rest.substr(2);
    fs::path host = root_ / "drive_c";
    std::stringstream parts(rest);
    for (std::string part; std::getline(parts, part, '\\');) {
        if (part.empty()) continue;
        fs::path next = host / part;
        std::error_code ec;
        if (!fs::exists(next, ec) && fs::is_directory(host, ec)) {
            for (const auto& entry : fs::directory_iterator(host, ec))
                if (SameIgnoringCase(entry.path().filename().string(), part)) next = entry.path();
        }
        host = next;
    }
    return host;
}

void SandboxMachine::MakeFolders(const std::string& windowsPath) { fs::create_directories(Host(windowsPath)); }

void SandboxMachine::Write(const std::string& windowsPath, const std::string& content) {
    fs::path host = Host(windowsPath);
    fs::create_directories(host.parent_path());
    std::ofstream out(host, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) throw std::runtime_error("cannot write " + host.string());
}

std::string SandboxMachine::Read(const std::string& windowsPath) const { return ReadWhole(Host(windowsPath)); }

bool SandboxMachine::Exists(const std::string& windowsPath) const { return fs::exists(Host(windowsPath)); }

void SandboxMachine::Deny(const std::string& line) { sandbox::DenyAccess(root_.string(), line); }

void SandboxMachine::PlaceTovanel(const std::string& windowsPath, const std::string& program) {
    fs::path host = Host(windowsPath);
    fs::create_directories(host.parent_path());
    fs::copy_file(BuiltProgram(program), host, fs::copy_options::overwrite_existing);
}

void SandboxMachine::PlaceStandin(const std::string& windowsPath) {
    fs::path host = Host(windowsPath);
    fs::create_directories(host.parent_path());
    fs::copy_file(BuiltProgram("standin"), host, fs::copy_options::overwrite_existing);
}

void SandboxMachine::PlaceFoundation() {
    PlaceTovanel("C:\\TSLData\\QLR\\Tovanel.exe");
    Write("C:\\SchoolData\\mydata.ib", "blank school database");
}

SandboxMachine::RunResult SandboxMachine::Run(const std::string& windowsPath,
                                              const std::vector<std::string>& environment,
                                              const std::vector<std::string>& arguments) {
    return Finish(Start(windowsPath, environment, arguments));
}

int SandboxMachine::Start(const std::string& windowsPath, const std::vector<std::string>& environment,
                          const std::vector<std::string>& arguments) {
    std::vector<std::string> env = {"QLR_SANDBOX_ROOT=" + root_.string(), "QLR_SANDBOX_FAST=1",
                                    std::string("QLR_UPDATE_BASE_URL=") + kUnreachableServer};
    env.insert(env.end(), environment.begin(), environment.end());  // later entries win
    std::vector<std::string> argv = {Host(windowsPath).string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const int run = static_cast<int>(started_.size());
    started_.push_back(Spawn(argv, env, OutputFile(run)));
    return run;
}

std::string SandboxMachine::Output(int run) const { return ReadWhole(OutputFile(run)); }

SandboxMachine::RunResult SandboxMachine::Finish(int run) {
    RunResult result;
    result.exitCode = WaitFor(started_.at(run), "run " + std::to_string(run), std::chrono::seconds(120));
    result.output = Output(run);
    return result;
}

fs::path SandboxMachine::OutputFile(int run) const { return root_ / ("run-output-" + std::to_string(run) + ".txt"); }

std::string SandboxMachine::Log(const std::string& role) const {
    return Read("C:\\Temp\\QLR\\InstallLog " + role + ".txt");
}

bool SandboxMachine::HasLog(const std::string& role) const {
    return Exists("C:\\Temp\\QLR\\InstallLog " + role + ".txt");
}

bool SandboxMachine::WaitForLog(const std::string& role, std::chrono::milliseconds timeout) const {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!HasLog(role)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // The file appears when the save begins; give the writer its moment to finish.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return true;
}

std::vector<std::string> SandboxMachine::StandinRuns(std::size_t expected, std::chrono::milliseconds timeout) const {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        std::vector<std::string> runs;
        if (Exists("C:\\standin-runs.txt")) runs = CrLfLines(Read("C:\\standin-runs.txt"));
        if (runs.size() >= expected || std::chrono::steady_clock::now() > deadline) return runs;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

Platform& SandboxMachine::platform() {
    if (!platform_) platform_ = sandbox::CreateSandboxPlatform({root_.string(), false});
    return *platform_;
}

}  // namespace qlr::testing
