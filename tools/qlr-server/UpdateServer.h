#pragma once
// The update server: index.php answers with the published list of the
// school's rollout bucket, updates/NAME.pak with the package; every list
// request and package request is a line of ROOT/checkins.log.

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
    void Serve(const httplib::Request& request, httplib::Response& response);
    void ServePackage(const std::string& name, const httplib::Request& request, httplib::Response& response);

    ServeOptions options_;
    std::filesystem::path updates_;
    Publisher publisher_;
    CheckInLog log_;
    std::unique_ptr<Listener> plain_;
    std::unique_ptr<TlsListener> tls_;
    httplib::Server* http_;
};

}  // namespace qlr::server
