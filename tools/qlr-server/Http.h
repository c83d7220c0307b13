#pragma once
// The HTTP/1.1 text qlr-server reads and writes: the request head, query
// values, byte ranges and dates. No sockets here.

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace qlr::server {

struct RequestHead {
    std::string method;
    std::string path;   // percent-decoded
    std::string query;  // as sent
    std::string range, ifRange;
    bool keepAlive = true;  // HTTP/1.1 unless "Connection: close"; HTTP/1.0 only with "keep-alive"
    bool http10 = false;
    bool hasBody = false;  // a Content-Length above 0 or a Transfer-Encoding
};

// Where a request head ends (just past its blank line), or npos while it is incomplete;
// the search starts at `from`.
std::size_t HeadEnd(std::string_view received, std::size_t from = 0);

// The head up to its blank line; the status to refuse it with (400, 505) when it is not HTTP/1.x.
int ParseHead(std::string_view head, RequestHead& request);

// %XX decoded; with `plusIsBlank`, '+' too (query values). A malformed escape stays as it is.
std::string PercentDecoded(std::string_view text, bool plusIsBlank);

// The first value of NAME in a query, decoded; "" when absent.
std::string QueryValue(std::string_view query, std::string_view name);

struct ByteRange {
    bool satisfiable = true;
    std::uint64_t first = 0, length = 0;
};

// The one range of a Range header over a body of `size` bytes. Nothing when the
// header asks for no single range the server honours (absent, malformed, several
// ranges): the whole body is sent.
std::optional<ByteRange> ParseRange(std::string_view header, std::uint64_t size);

// "Sun, 06 Nov 1994 08:49:37 GMT"
std::string HttpDate(std::time_t time);

// A file's validator as nginx makes it, so a client may switch servers: "MTIME-SIZE" in hex, quoted.
std::string EntityTag(std::time_t modified, std::uint64_t size);

const char* StatusText(int status);

}  // namespace qlr::server
