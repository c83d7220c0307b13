#include <signal.h>

#include <cstdlib>
#include <iostream>
#include <thread>

#include "Commands.h"
#include "UpdateServer.h"

namespace qlr::server {

int ServeCommand(const Arguments& arguments) {
    ServeOptions options;
    bool haveRoot = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& arg = arguments[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        }
        if (i + 1 >= arguments.size()) return UsageError("missing value for " + arg);
        const std::string& value = arguments[++i];
        if (arg == "--root") {
            options.root = value;
            haveRoot = true;
        } else if (arg == "--host") {
            options.host = value;
        } else if (arg == "--port") {
            char* end = nullptr;
            long port = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || port < 0 || port > 65535) return UsageError("bad port: " + value);
            options.port = static_cast<int>(port);
        } else if (arg == "--tls-cert") {
            options.tlsCertificate = value;
        } else if (arg == "--tls-key") {
            options.tlsKey = value;
        } else {
            return UsageError("unknown option: " + arg);
        }
    }
    if (!haveRoot) return UsageError("--root FOLDER is required");
    if (options.tlsCertificate.empty() != options.tlsKey.empty())
        return UsageError("--tls-cert and --tls-key go together");
    if (!std::filesystem::is_directory(options.root)) return UsageError("not a folder: " + options.root.string());

    // Signals are taken by one thread that stops the server; the others never see them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::unique_ptr<UpdateServer> server;
    try {
        server = std::make_unique<UpdateServer>(options);
    } catch (const std::exception& error) {  // a damaged rollout.txt, an unusable certificate
        std::cerr << "qlr-server: " << error.what() << "\n";
        return 1;
    }
    std::thread stopper([&] {
        int received = 0;
        sigwait(&stopSignals, &received);
        server->Stop();
    });
    const int status = server->Run();
    // NOLINTNEXTLINE(bugprone-bad-signal-to-kill-thread): wakes the thread waiting in sigwait, which then ends
    if (status != 0) pthread_kill(stopper.native_handle(), SIGTERM);
    stopper.join();
    return status;
}

}  // namespace qlr::server
