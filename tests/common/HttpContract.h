#pragma once
// What a download makes of a misbehaving server, the same for the WinInet
// client (under Wine) and the libcurl client (sandbox): one table, run by
// both suites through the real DownloadFile against common/FaultServer.h.

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/main.h"
#include "common/FaultServer.h"

namespace qlr::testing {

// The time limit the contract runs with (QLR_HTTP_TIME_LIMIT), in seconds.
inline constexpr const char* kContractTimeLimit = "1";
// The first pause before a resumed request (QLR_HTTP_RESUME_PAUSE), in milliseconds.
inline constexpr const char* kContractResumePause = "1";
// What the local file holds before each case.
inline constexpr const char* kEarlierFile = "from an earlier run";

struct HttpContractCase {
    const char* what;
    FaultReply reply;                          // "{origin}" in its bytes stands for the server's http://127.0.0.1:PORT,
                                               // "{secure}" for the https://localhost:PORT of the TLS pages
    const char* error;                         // "" for none, else the message without the URL
    std::optional<std::string> file;           // what the local file holds afterwards; nullopt: no file
    bool winInetCannotTell = false;            // WinInet ends such a body as if it were whole
    bool overTls = false;                      // asked for over https (scripts/tls-pages.sh serves its bytes)
    std::vector<std::int64_t> resumedAt = {};  // the "Download resumed at" lines
    // The answer to a request for the rest (Range: bytes=from-, If-Range as sent); none: as to the first
    std::function<FaultReply(std::int64_t from, const std::string& ifRange)> ranged = {};
};

inline std::string ContractBody(std::size_t size) {
    std::string body(size, '\0');
    for (std::size_t i = 0; i < size; ++i) body[i] = static_cast<char>('a' + (i * 7 + i / 13) % 26);
    return body;
}

inline constexpr const char* kDate = "Mon, 01 Jan 2024 00:00:00 GMT";

// A 206 with body's bytes from..to (to clipped at its end) and a Content-Range that says so.
inline FaultReply Rest(const std::string& body, std::int64_t from, std::int64_t to, const std::string& tag) {
    const auto size = static_cast<std::int64_t>(body.size());
    const std::string part = body.substr(static_cast<std::size_t>(from));
    const std::string range = std::to_string(from) + "-" + std::to_string(size - 1) + "/" + std::to_string(size);
    return FaultReply("HTTP/1.1 206 Partial Content\r\nContent-Length: " + std::to_string(part.size()) +
                      "\r\nContent-Range: bytes " + range + "\r\nETag: " + tag + "\r\nConnection: close\r\n\r\n" +
                      part.substr(0, static_cast<std::size_t>(std::min(to, size) - from)));
}

inline std::vector<HttpContractCase> HttpContractCases() {
    using Then = FaultReply::Then;
    constexpr std::int64_t kMiB = std::int64_t{1} << 20;
    const std::string body = ContractBody(300000);
    std::string newer = body;
    std::reverse(newer.begin(), newer.end());
    const std::string large = ContractBody(static_cast<std::size_t>(kMiB * 5 / 2));
    const std::string tagged = "HTTP/1.1 200 OK\r\nContent-Length: 300000\r\nETag: \"v1\"\r\n\r\n";
    const std::string dated = "HTTP/1.1 200 OK\r\nContent-Length: 300000\r\nLast-Modified: " + std::string(kDate) +
                              "\r\nConnection: close\r\n\r\n";
    const std::string part = body.substr(0, 5000);
    const std::string announced = "HTTP/1.1 200 OK\r\nContent-Length: 300000\r\n\r\n";
    const std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    const char* cannotOpen = "Cannot open URL: ";
    const char* failed = "Download failed: ";
    return {
        {"whole body", {HttpReply("200 OK", body)}, "", body},
        {"error page is stored", {HttpReply("404 Not Found", "<h1>Not Found</h1>")}, "", "<h1>Not Found</h1>"},
        {"empty body", {HttpReply("200 OK", "")}, "", ""},
        {"bytes past Content-Length are cut", {HttpReply("200 OK", "0123456789") + "extra line\r\n"}, "", "0123456789"},
        {"whole chunked body", {chunked + "1388\r\n" + part + "\r\n5\r\nabcde\r\n0\r\n\r\n"}, "", part + "abcde"},
        {"chunked body cut short", {chunked + "1388\r\n" + part + "\r\n2000\r\n" + part}, failed, std::nullopt, true},
        {"close before the announced length", {announced + part}, failed, std::nullopt},
        {"reset in the body", {announced + part, Then::Reset}, failed, std::nullopt},
        {"close before any response", {""}, cannotOpen, kEarlierFile},
        {"reset before any response", {"", Then::Reset}, cannotOpen, kEarlierFile},
        {"redirect is followed",
         {"HTTP/1.1 302 Found\r\nLocation: {origin}/whole\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"},
         "",
         body},
        {"relative redirect is followed",
         {"HTTP/1.1 301 Moved\r\nLocation: /whole\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"},
         "",
         body},
        {"redirect to another scheme is not followed",
         {"HTTP/1.1 302 Found\r\nLocation: ftp://127.0.0.1/x\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"},
         cannotOpen,
         kEarlierFile},
        {"redirect within https is followed",
         {"HTTP/1.1 302 Found\r\nLocation: {secure}/0\r\nContent-Length: 0\r\n\r\n"},
         "",
         body,
         false,
         true},
        {"redirect from https down to http is refused",
         {"HTTP/1.1 302 Found\r\nLocation: {origin}/whole\r\nContent-Length: 0\r\n\r\n"},
         cannotOpen,
         kEarlierFile,
         false,
         true},
        {"reply over 2 GiB",
         {"HTTP/1.1 200 OK\r\nContent-Length: 2147483648\r\n\r\n" + part, Then::Hold},
         failed,
         std::nullopt},
        {"stalled body", {announced + part, Then::Hold}, failed, std::nullopt},
        {"trickling body", {announced + part, Then::Trickle, std::string(100, 'x')}, failed, std::nullopt},
        {"trickle that never ends", {announced + part, Then::Drip, "x"}, failed, std::nullopt},
        {"server that never answers", {"", Then::Hold}, cannotOpen, kEarlierFile},
        // A cut body with a validator is asked for again from where it broke off.
        {.what = "200 to a range request (the file changed) brings the new body whole",
         .reply = {dated + part, Then::Close},
         .error = "",
         .file = newer,
         .resumedAt = {5000},
         .ranged =
             [=](std::int64_t, const std::string& ifRange) {
                 return FaultReply(ifRange == kDate ? HttpReply("200 OK", newer) : HttpReply("400 Bad", ""));
             }},
        {.what = "206 for the wrong range",
         .reply = {tagged + part, Then::Reset},
         .error = failed,
         .file = std::nullopt,
         .resumedAt = {5000},
         .ranged = [=](std::int64_t, const std::string&) { return Rest(body, 0, 0, "\"v1\""); }},
        {.what = "416 to a range request",
         .reply = {tagged + part, Then::Reset},
         .error = failed,
         .file = std::nullopt,
         .resumedAt = {5000},
         .ranged = [](std::int64_t,
                      const std::string&) { return FaultReply(HttpReply("416 Range Not Satisfiable", "")); }},
        {.what = "server that ignores Range and cuts again is given up after five tries",
         .reply = {tagged + part, Then::Reset},
         .error = failed,
         .file = std::nullopt,
         .resumedAt = {5000, 5000, 5000, 5000, 5000}},
        {.what = "server that resets every MiB",
         .reply = {"HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(large.size()) + "\r\nETag: \"v1\"\r\n\r\n" +
                       large.substr(0, kMiB),
                   Then::Reset},
         .error = "",
         .file = large,
         .resumedAt = {kMiB, 2 * kMiB},
         .ranged =
             [=](std::int64_t from, const std::string& ifRange) {
                 if (ifRange != "\"v1\"") return FaultReply(HttpReply("400 Bad", ""));
                 FaultReply reply = Rest(large, from, from + kMiB, "\"v1\"");
                 if (from + kMiB < static_cast<std::int64_t>(large.size())) reply.then = Then::Reset;
                 return reply;
             }},
    };
}

inline std::string WithOrigins(std::string bytes, const std::string& origin, const std::string& secure) {
    for (const auto& [name, value] :
         {std::pair{std::string("{origin}"), origin}, std::pair{std::string("{secure}"), secure}})
        for (auto at = bytes.find(name); at != std::string::npos; at = bytes.find(name))
            bytes.replace(at, name.size(), value);
    return bytes;
}

// Serves every case under "/<index>"; "/whole" is the first case's reply.
// secure: the TLS pages' base address without its final "/".
inline FaultServer::HeadHandler HttpContractHandler(const std::vector<HttpContractCase>& cases, std::string secure) {
    return [&cases, secure](const std::string& target, const std::string& head, const std::string& origin) {
        std::size_t index = target == "/whole" ? 0 : std::stoul(target.substr(1));
        const HttpContractCase& c = cases.at(index);
        FaultReply reply = c.reply;
        const auto range = head.find("\r\nRange: bytes=");
        if (range != std::string::npos && c.ranged) {
            const auto ifRange = head.find("\r\nIf-Range: ");
            const std::string tag = ifRange == std::string::npos
                                        ? ""
                                        : head.substr(ifRange + 12, head.find("\r\n", ifRange + 2) - ifRange - 12);
            reply = c.ranged(std::stoll(head.substr(range + 15)), tag);
        }
        reply.bytes = WithOrigins(reply.bytes, origin, secure);
        return reply;
    };
}

// The pages scripts/tls-pages.sh serves: every case's reply as it stands (held, reset and trickled ends aside).
inline std::vector<std::pair<std::string, std::string>> HttpContractPages(const std::vector<HttpContractCase>& cases,
                                                                          const std::string& origin,
                                                                          const std::string& secure) {
    std::vector<std::pair<std::string, std::string>> pages;
    for (std::size_t i = 0; i < cases.size(); ++i)
        pages.emplace_back(std::to_string(i), WithOrigins(cases[i].reply.bytes, origin, secure));
    return pages;
}

inline std::string ContractUrl(const HttpContractCase& c, std::size_t index, const std::string& origin,
                               const std::string& secure) {
    return (c.overTls ? secure : origin) + "/" + std::to_string(index);
}

inline void PrepareContractForm(TForm1& form) {
    form.ExpectedBytes = 10000000;
    form.ProgramStarted = false;
    form.f_progress = std::make_unique<Tf_progress>();
}

// Runs the real DownloadFile from a gauge at 0 and a cleared log: the log it
// wrote, then the message it ended with, as the run pass saves them.
inline std::string ContractDownload(TForm1& form, const std::string& url, const std::string& local) {
    form.Memo3.Clear();
    form.f_progress->Gauge1.SetProgress(0);
    std::string message;
    try {
        form.DownloadFile(url, local);
    } catch (const RunError& error) {
        message = error.what();
    }
    return form.Memo3.Text() + message;
}

inline std::string ExpectedLog(const HttpContractCase& c, const std::string& url) {
    std::string log = "Gauge = 0\r\n";
    for (std::int64_t at : c.resumedAt) log += "Download resumed at " + std::to_string(at) + " bytes\r\n";
    return log + (*c.error ? c.error + url : "");
}

}  // namespace qlr::testing
