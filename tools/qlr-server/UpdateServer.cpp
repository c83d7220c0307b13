#include "UpdateServer.h"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <vector>

namespace qlr::server {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kChunk = std::size_t{64} * 1024;

// A single plain NAME.pak inside updates/, nothing that climbs out of it.
bool PackageName(const std::string& name) {
    if (name.size() <= 4 || !name.ends_with(".pak") || name[0] == '.') return false;
    return name.find_first_of("/\\") == std::string::npos && name.find('\0') == std::string::npos;
}

void NotFound(httplib::Response& response) {
    response.status = 404;
    response.set_content(
        "<!DOCTYPE html>\n<html><head><title>404 Not Found</title></head>"
        "<body><h1>Not Found</h1><p>The requested address is not on this server.</p></body></html>\n",
        "text/html");
}

std::string RawQuery(const httplib::Request& request) {
    const auto mark = request.target.find('?');
    return mark == std::string::npos ? "" : request.target.substr(mark + 1);
}

}  // namespace

UpdateServer::UpdateServer(ServeOptions options)
    : options_(std::move(options)),
      updates_(options_.root / "updates"),
      publisher_(options_.root),
      log_(options_.root / "checkins.log") {
    if (options_.tlsCertificate.empty()) {
        plain_ = std::make_unique<Listener>();
        http_ = plain_.get();
    } else {
        tls_ = std::make_unique<TlsListener>(options_.tlsCertificate, options_.tlsKey);
        if (!tls_->is_valid())
            throw std::runtime_error("cannot use the certificate " + options_.tlsCertificate + " with the key " +
                                     options_.tlsKey);
        http_ = tls_.get();
    }
    http_->Get("/index.php",
               [this](const httplib::Request& request, httplib::Response& response) { Serve(request, response); });
    http_->Get(R"(/updates/(.*))", [this](const httplib::Request& request, httplib::Response& response) {
        ServePackage(request.matches[1].str(), request, response);
    });
    http_->set_error_handler([](const httplib::Request&, httplib::Response& response) {
        if (response.status == 404) NotFound(response);
    });
}

int UpdateServer::Run() {
    std::string error;
    const int port =
        plain_ ? plain_->Bind(options_.host, options_.port, error) : tls_->Bind(options_.host, options_.port, error);
    if (port < 0) {
        std::cerr << "qlr-server: cannot listen on " << options_.host << ":" << options_.port << ": " << error << "\n";
        return 1;
    }
    std::cout << "listening on " << (tls_ ? "https" : "http") << "://" << options_.host << ":" << port << "/"
              << std::endl;
    http_->listen_after_bind();
    log_.Close();
    return 0;
}

void UpdateServer::Stop() { http_->stop(); }

void UpdateServer::Serve(const httplib::Request& request, httplib::Response& response) {
    log_.Add(LocalTimeText() + "\t" + request.remote_addr + "\tSchool=" + Printable(request.get_param_value("School")) +
             "\tSMSID=" + Printable(request.get_param_value("SMSID")) +
             "\tUSER=" + Printable(request.get_param_value("USER")));
    const auto publication = publisher_.Current();
    response.set_content(publication->lists[BucketOf(SchoolKey(RawQuery(request)))], "text/plain");
}

void UpdateServer::ServePackage(const std::string& name, const httplib::Request& request, httplib::Response& response) {
    if (!PackageName(name)) return NotFound(response);
    const std::string head = request.remote_addr + "\tPackage=" + Printable(name);
    const fs::path path = updates_ / name;
    std::error_code error;
    auto file = std::make_shared<std::ifstream>(path, std::ios::binary);
    const auto size = fs::is_regular_file(path, error) ? fs::file_size(path, error) : 0;
    if (!*file || error || !fs::is_regular_file(path, error)) {
        log_.Add(LocalTimeText() + "\t" + head + "\tStatus=404\tBytes=0\tComplete=");
        return NotFound(response);
    }
    // Streamed in pieces: a package is never held whole in memory.
    auto sent = std::make_shared<std::uintmax_t>(0);
    response.set_content_provider(
        static_cast<std::size_t>(size), "application/octet-stream",
        [file, sent](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            std::vector<char> buffer(std::min(length, kChunk));
            file->seekg(static_cast<std::streamoff>(offset));
            file->read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
            const std::streamsize got = file->gcount();
            if (got <= 0 || !sink.write(buffer.data(), static_cast<std::size_t>(got))) return false;
            *sent += static_cast<std::uintmax_t>(got);
            return true;
        },
        [this, head, sent, size](bool success) {
            const bool complete = success && *sent == size;
            log_.Add(LocalTimeText() + "\t" + head + "\tStatus=200\tBytes=" + std::to_string(*sent) +
                     "\tComplete=" + (complete ? "OK" : ""));
        });
}

}  // namespace qlr::server
