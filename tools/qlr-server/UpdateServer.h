#pragma once
// The update server: index.php answers with the published list of the
// school's rollout bucket, updates/NAME.pak with the package (or the byte
// range asked for); every list request and package request is a line of
// ROOT/checkins.log.

#include <filesystem>
#include <memory>
#include <string>

#include "CheckInLog.h"
#include "Listener.h"
#include "Publisher.h"

namespace qlr::server {

struct ServeOptions {
    std::filesystem::path root;
    std::string host = "127.0.0.1";
    int port = 0;
    std::string tlsCertificate, tlsKey;  // both set: HTTPS
};

class UpdateServer {
public:
    // Throws RolloutError when ROOT/rollout.txt is damaged, std::runtime_error
    // when the certificate and key cannot be used.
    explicit UpdateServer(ServeOptions options);

    // Serves until Stop(); 1 when it cannot listen.
    int Run();
    void Stop();

private:
    void Handle(const Request& request, Reply& reply);
    void ServeList(const Request& request, Reply& reply);
    void ServePackage(const std::string& name, const Request& request, Reply& reply);

    ServeOptions options_;
    std::filesystem::path updates_;
    Publisher publisher_;
    CheckInLog log_;
    Listener listener_;
};

}  // namespace qlr::server
