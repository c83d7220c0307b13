#pragma once
// What the installation tests need around a sandbox machine: packages
// (common/PackageBytes.h), and a running qlr-server that serves them.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "common/PackageBytes.h"
#include "native/support/SandboxMachine.h"

extern char** environ;

namespace qlr::testing {

inline std::string FileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// qlr-server on a free loopback port over a folder of its own; stopped on destruction.
// Given a folder of scripts/test-certificates.sh, it serves HTTPS at https://localhost:PORT/.
class PackageServer {
public:
    // Serves a fresh folder of its own, or `folder` as it stands (left in place);
    // over HTTPS when given a folder of certificates.
    explicit PackageServer(std::filesystem::path folder = {}, std::string certificates = "")
        : certificates_(std::move(certificates)), folder_(std::move(folder)), owned_(folder_.empty()) {
        if (owned_) {
            std::string pattern = (std::filesystem::temp_directory_path() / "qlr-served-XXXXXX").string();
            if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a server folder");
            folder_ = pattern;
        }
        std::filesystem::create_directories(folder_ / "updates");
        Start();
    }
    ~PackageServer() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
        std::error_code ignored;
        if (owned_) std::filesystem::remove_all(folder_, ignored);
    }
    PackageServer(const PackageServer&) = delete;
    PackageServer& operator=(const PackageServer&) = delete;

    // updates/<name>, served as it stands.
    void Put(const std::string& name, const std::string& bytes) {
        std::ofstream(folder_ / "updates" / name, std::ios::binary | std::ios::trunc) << bytes;
    }
    void Remove(const std::string& name) { std::filesystem::remove(folder_ / "updates" / name); }
    const std::string& BaseUrl() const { return baseUrl_; }
    std::string Environment() const { return "QLR_UPDATE_BASE_URL=" + baseUrl_; }
    const std::filesystem::path& Folder() const { return folder_; }
    // The check-in lines the server logged (list requests, not package
    // downloads). It writes its log in batches, so this waits (up to 5 s)
    // until at least `count` are there.
    std::string CheckIns(std::size_t count = 1) const { return LogLines(count, "\tSchool="); }
    // Its whole log, once it holds at least `count` lines.
    std::string Log(std::size_t count) const { return LogLines(count, ""); }

private:
    std::string LogLines(std::size_t count, const std::string& mark) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        for (;;) {
            std::error_code ec;
            std::string lines;
            std::size_t found = 0;
            if (std::filesystem::exists(folder_ / "checkins.log", ec)) {
                std::istringstream text(FileBytes(folder_ / "checkins.log"));
                for (std::string line; std::getline(text, line);) {
                    if (line.find(mark) == std::string::npos) continue;
                    lines += line + "\n";
                    ++found;
                }
            }
            if (found >= count || std::chrono::steady_clock::now() > deadline) return lines;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    void Start() {
        const std::string program = BuiltProgram("qlr-server").string();
        const std::string root = folder_.string();
        const std::string output = (folder_ / "server-output.txt").string();
        std::vector<std::string> arguments = {program, "--root", root, "--port", "0"};
        if (!certificates_.empty()) {
            arguments.insert(arguments.end(), {"--tls-cert", certificates_ + "/server.pem", "--tls-key",
                                               certificates_ + "/server-key.pem"});
        }
        std::vector<char*> argv;
        for (auto& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        const int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) throw std::runtime_error("cannot start " + program);
        // It prints "listening on http(s)://127.0.0.1:PORT/" once it accepts connections.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            std::ifstream in(output);
            for (std::string line; std::getline(in, line);) {
                const auto at = line.find("://");
                if (line.rfind("listening on ", 0) != 0 || at == std::string::npos) continue;
                baseUrl_ = line.substr(13);
                // Certificates name localhost, not the address.
                if (!certificates_.empty()) baseUrl_.replace(baseUrl_.find("127.0.0.1"), 9, "localhost");
                while (!baseUrl_.empty() && (baseUrl_.back() == '\r' || baseUrl_.back() == ' ')) baseUrl_.pop_back();
                if (baseUrl_.back() != '/') baseUrl_ += '/';
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        throw std::runtime_error("qlr-server did not report its address: " + FileBytes(output));
    }

    std::string certificates_;
    std::filesystem::path folder_;
    bool owned_ = true;
    pid_t pid_ = -1;
    std::string baseUrl_;
};

}  // namespace qlr::testing
