// qlr-server: the update server, its publishing step and its check-in report.

#include <iostream>
#include <string>

#include "Commands.h"

namespace qlr::server {

const char* const kUsage =
    "Usage: qlr-server --root FOLDER [--host 127.0.0.1] [--port N] [--tls-cert FILE --tls-key FILE]\n"
    "       qlr-server publish [--watch] FOLDER\n"
    "       qlr-server report [--days N] [--output FILE] LOG...\n"
    "\n"
    "Serving:\n"
    "  GET /index.php?School=..&SMSID=..&USER=..  the list of FOLDER/updates/*.pak,\n"
    "                                             one \"NAME.pak SIZE\" line each, by name\n"
    "                                             (packages staged in FOLDER/rollout.txt only\n"
    "                                             for their share of schools)\n"
    "  GET /updates/NAME.pak                      the file FOLDER/updates/NAME.pak, or the\n"
    "                                             byte range asked for (Range, If-Range)\n"
    "  Check-ins and package downloads are logged to standard output and\n"
    "  FOLDER/checkins.log. --port 0 (the default) picks a free port. The server\n"
    "  prints \"listening on http://HOST:PORT/\" once it accepts requests, and stops\n"
    "  on SIGINT or SIGTERM. --tls-cert FILE --tls-key FILE serve HTTPS with this PEM\n"
    "  certificate (chain) and its private key (\"listening on https://...\").\n"
    "\n"
    "publish: writes the lists to FOLDER/published/index-00.txt .. index-99.txt, one\n"
    "  per rollout bucket, as nginx serves them (deploy/nginx/qlr.conf). The server\n"
    "  does this itself whenever updates/ or rollout.txt change; --watch does it\n"
    "  too, until stopped. rollout.txt lines \"QLR6-39 25\" offer QLR6-39.pak to 25%\n"
    "  of schools, chosen by SMSID (by school name when the SMSID is x).\n"
    "\n"
    "report: one self-contained HTML page from check-in logs of qlr-server and of\n"
    "  nginx: schools seen per day, schools that downloaded each package per day,\n"
    "  schools not seen in the last N days (default 7), totals. Written to FILE or\n"
    "  standard output.\n"
    "\n"
    "Exit status: 0 done (or a clean stop), 1 failed (cannot listen, unusable\n"
    "certificate, damaged "
    "rollout.txt, unreadable log), 2 bad usage.\n";

int UsageError(const std::string& message) {
    std::cerr << "qlr-server: " << message << "\n\n" << kUsage;
    return 2;
}

}  // namespace qlr::server

int main(int argc, char** argv) {
    using namespace qlr::server;
    Arguments arguments(argv + 1, argv + argc);
    const std::string command = arguments.empty() ? "" : arguments.front();
    if (command == "publish") return PublishCommand(Arguments(arguments.begin() + 1, arguments.end()));
    if (command == "report") return ReportCommand(Arguments(arguments.begin() + 1, arguments.end()));
    return ServeCommand(arguments);
}
