// qlr-server: the update server. Serves the package list of FOLDER/updates
// at index.php and the packages themselves at updates/<name>, and logs
// every check-in.
//
//   qlr-server --root FOLDER [--host 127.0.0.1] [--port N]

#include <httplib.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr const char* kUsage =
    "Usage: qlr-server --root FOLDER [--host 127.0.0.1] [--port N]\n"
    "  GET /index.php?School=..&SMSID=..&USER=..  the list of FOLDER/updates/*.pak,\n"
    "                                             one \"NAME.pak SIZE\" line each, by name\n"
    "  GET /updates/NAME                          the file FOLDER/updates/NAME\n"
    "  Check-ins are logged to standard output and FOLDER/checkins.log.\n"
    "  --port 0 (the default) picks a free port. The server prints\n"
    "  \"listening on http://HOST:PORT/\" once it accepts requests, and stops on\n"
    "  SIGINT or SIGTERM.\n"
    "Exit status: 0 after a clean stop, 1 when it cannot listen, 2 bad usage.\n";

constexpr std::size_t kChunk = std::size_t{64} * 1024;

struct Options {
    fs::path root;
    std::string host = "127.0.0.1";
    int port = 0;
};

int UsageError(const std::string& message) {
    std::cerr << "qlr-server: " << message << "\n\n" << kUsage;
    return 2;
}

// Check-in values come from anyone: keep the log one line per request.
std::string Printable(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f || c == '\\') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string Now() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
    return text;
}

std::string PackageList(const fs::path& updates) {
    std::vector<std::pair<std::string, std::uintmax_t>> packages;
    std::error_code error;
    for (const auto& item : fs::directory_iterator(updates, error)) {
        std::error_code itemError;
        if (!item.is_regular_file(itemError)) continue;
        std::string name = item.path().filename().string();
        if (name.size() < 4 || name.compare(name.size() - 4, 4, ".pak") != 0) continue;
        packages.emplace_back(name, item.file_size(itemError));
    }
    std::sort(packages.begin(), packages.end());
    std::string list;
    for (const auto& [name, size] : packages) list += name + " " + std::to_string(size) + "\r\n";
    return list;
}

// A single plain name inside updates/, nothing that climbs out of it.
bool SafeName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    return name.find_first_of("/\\") == std::string::npos && name.find('\0') == std::string::npos;
}

void NotFound(httplib::Response& response) {
    response.status = 404;
    response.set_content(
        "<!DOCTYPE html>\n<html><head><title>404 Not Found</title></head>"
        "<body><h1>Not Found</h1><p>The requested address is not on this server.</p></body></html>\n",
        "text/html");
}

class Server {
public:
    explicit Server(Options options) : options_(std::move(options)), updates_(options_.root / "updates") {
        server_.Get("/index.php", [this](const httplib::Request& request, httplib::Response& response) {
            CheckIn(request);
            response.set_content(PackageList(updates_), "text/plain");
        });
        server_.Get(R"(/updates/(.*))", [this](const httplib::Request& request, httplib::Response& response) {
            ServeFile(request.matches[1].str(), response);
        });
        server_.set_error_handler([](const httplib::Request&, httplib::Response& response) {
            if (response.status == 404) NotFound(response);
        });
    }

    int Run() {
        int port = options_.port == 0
                       ? server_.bind_to_any_port(options_.host)
                       : (server_.bind_to_port(options_.host.c_str(), options_.port) ? options_.port : -1);
        if (port < 0) {
            std::cerr << "qlr-server: cannot listen on " << options_.host << ":" << options_.port << "\n";
            return 1;
        }
        std::cout << "listening on http://" << options_.host << ":" << port << "/" << std::endl;
        server_.listen_after_bind();
        return 0;
    }

    void Stop() { server_.stop(); }

private:
    void CheckIn(const httplib::Request& request) {
        std::string line = Now() + "\t" + request.remote_addr +
                           "\tSchool=" + Printable(request.get_param_value("School")) +
                           "\tSMSID=" + Printable(request.get_param_value("SMSID")) +
                           "\tUSER=" + Printable(request.get_param_value("USER"));
        std::lock_guard<std::mutex> lock(logMutex_);
        std::cout << line << std::endl;
        std::ofstream log(options_.root / "checkins.log", std::ios::app | std::ios::binary);
        log << line << "\n";
    }

    void ServeFile(const std::string& name, httplib::Response& response) {
        if (!SafeName(name)) return NotFound(response);
        const fs::path path = updates_ / name;
        std::error_code error;
        if (!fs::is_regular_file(path, error)) return NotFound(response);
        auto file = std::make_shared<std::ifstream>(path, std::ios::binary);
        auto size = fs::file_size(path, error);
        if (!*file || error) return NotFound(response);
        // Streamed in pieces: a package is never held whole in memory.
        response.set_content_provider(
            static_cast<std::size_t>(size), "application/octet-stream",
            [file](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                std::vector<char> buffer(std::min(length, kChunk));
                file->seekg(static_cast<std::streamoff>(offset));
                file->read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
                std::streamsize got = file->gcount();
                if (got <= 0) return false;
                return sink.write(buffer.data(), static_cast<std::size_t>(got));
            });
    }

    Options options_;
    fs::path updates_;
    httplib::Server server_;
    std::mutex logMutex_;
};

}  // namespace

int main(int argc, char** argv) {
    Options options;
    bool haveRoot = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        }
        if (i + 1 >= argc) return UsageError("missing value for " + arg);
        std::string value = argv[++i];
        if (arg == "--root") {
            options.root = value;
            haveRoot = true;
        } else if (arg == "--host") {
            options.host = value;
        } else if (arg == "--port") {
            char* end = nullptr;
            long port = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || port < 0 || port > 65535)
                return UsageError("bad port: " + value);
            options.port = static_cast<int>(port);
        } else {
            return UsageError("unknown option: " + arg);
        }
    }
    if (!haveRoot) return UsageError("--root FOLDER is required");
    if (!fs::is_directory(options.root)) return UsageError("not a folder: " + options.root.string());

    // Signals are taken by one thread that stops the server; the others never see them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    Server server(options);
    std::thread stopper([&] {
        int received = 0;
        sigwait(&stopSignals, &received);
        server.Stop();
    });
    int status = server.Run();
    if (status != 0) {
        // NOLINTNEXTLINE(bugprone-bad-signal-to-kill-thread): the stopper waits for SIGTERM in sigwait; this wakes it
        pthread_kill(stopper.native_handle(), SIGTERM);
    }
    stopper.join();
    return status;
}
