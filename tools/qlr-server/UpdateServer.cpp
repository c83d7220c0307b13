#include "UpdateServer.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <iostream>

namespace qlr::server {

namespace fs = std::filesystem;

namespace {

// A single plain NAME.pak inside updates/, nothing that climbs out of it.
bool PackageName(const std::string& name) {
    if (name.size() <= 4 || !name.ends_with(".pak") || name[0] == '.') return false;
    return name.find_first_of("/\\") == std::string::npos && name.find('\0') == std::string::npos;
}

void NotFound(Reply& reply) {
    reply.status = 404;
    reply.headers = "Content-Type: text/html\r\n";
    reply.body =
        "<!DOCTYPE html>\n<html><head><title>404 Not Found</title></head>"
        "<body><h1>Not Found</h1><p>The requested address is not on this server.</p></body></html>\n";
}

}  // namespace

UpdateServer::UpdateServer(ServeOptions options)
    : options_(std::move(options)),
      updates_(options_.root / "updates"),
      publisher_(options_.root),
      log_(options_.root / "checkins.log"),
      listener_([this](const Request& request, Reply& reply) { Handle(request, reply); }, options_.tlsCertificate,
                options_.tlsKey) {
    // Requests never wait for a look at the folder; a change is taken in as it comes.
    listener_.WatchChanges(publisher_.ChangeDescriptor(), [this] { publisher_.Refresh(); });
}

int UpdateServer::Run() {
    std::string error;
    const int port = listener_.Bind(options_.host, options_.port, error);
    if (port < 0) {
        std::cerr << "qlr-server: cannot listen on " << options_.host << ":" << options_.port << ": " << error << "\n";
        return 1;
    }
    std::cout << "listening on " << (options_.tlsCertificate.empty() ? "http" : "https") << "://" << options_.host
              << ":" << port << "/" << std::endl;
    listener_.Run();
    log_.Close();
    return 0;
}

void UpdateServer::Stop() { listener_.Stop(); }

void UpdateServer::Handle(const Request& request, Reply& reply) {
    const std::string& path = request.head.path;
    if (path == "/index.php") return ServeList(request, reply);
    if (path.starts_with("/updates/")) return ServePackage(path.substr(9), request, reply);
    NotFound(reply);
}

void UpdateServer::ServeList(const Request& request, Reply& reply) {
    const std::string& query = request.head.query;
    log_.Add(LocalTimeText() + "\t" + request.remoteAddress + "\tSchool=" + Printable(QueryValue(query, "School")) +
             "\tSMSID=" + Printable(QueryValue(query, "SMSID")) + "\tUSER=" + Printable(QueryValue(query, "USER")));
    const auto publication = publisher_.Current();
    reply.headers = "Content-Type: text/plain\r\nCache-Control: no-store\r\n";
    reply.body = publication->lists[BucketOf(SchoolKey(query))];
}

void UpdateServer::ServePackage(const std::string& name, const Request& request, Reply& reply) {
    if (!PackageName(name)) return NotFound(reply);
    const std::string head = request.remoteAddress + "\tPackage=" + Printable(name);
    // Never blocks on a FIFO placed under a package's name.
    sandbox::UniqueFd file(open((updates_ / name).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat about {};
    if (!file || fstat(file.get(), &about) != 0 || !S_ISREG(about.st_mode)) {
        log_.Add(LocalTimeText() + "\t" + head + "\tStatus=404\tBytes=0\tComplete=");
        return NotFound(reply);
    }
    const auto size = static_cast<std::uint64_t>(about.st_size);
    const std::string tag = EntityTag(about.st_mtime, size), modified = HttpDate(about.st_mtime);
    reply.headers = "Content-Type: application/octet-stream\r\nAccept-Ranges: bytes\r\nETag: " + tag +
                    "\r\nLast-Modified: " + modified + "\r\n";
    reply.length = size;
    // A range of another version of the file would splice two packages: then the whole file.
    const std::string& ifRange = request.head.ifRange;
    const bool sameFile = ifRange.empty() || ifRange == tag || ifRange == modified;
    if (const auto range = sameFile ? ParseRange(request.head.range, size) : std::nullopt) {
        if (!range->satisfiable) {
            reply.status = 416;
            reply.headers += "Content-Range: bytes */" + std::to_string(size) + "\r\n";
            reply.length = 0;
            log_.Add(LocalTimeText() + "\t" + head + "\tStatus=416\tBytes=0\tComplete=");
            return;
        }
        reply.status = 206;
        reply.offset = range->first;
        reply.length = range->length;
        reply.headers += "Content-Range: bytes " + std::to_string(range->first) + "-" +
                         std::to_string(range->first + range->length - 1) + "/" + std::to_string(size) + "\r\n";
    }
    reply.file = std::move(file);
    if (request.head.method == "HEAD") return;  // nothing was downloaded
    reply.done = [this, head, status = reply.status, length = reply.length](std::uint64_t sent, bool complete) {
        log_.Add(LocalTimeText() + "\t" + head + "\tStatus=" + std::to_string(status) +
                 "\tBytes=" + std::to_string(sent) + "\tComplete=" + (complete && sent == length ? "OK" : ""));
    };
}

}  // namespace qlr::server
