#include "Http.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <limits>

namespace qlr::server {

namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
    return text;
}

// Whether a comma-separated header value holds TOKEN.
bool HasToken(std::string_view value, std::string_view token) {
    while (!value.empty()) {
        const auto comma = value.find(',');
        if (EqualNoCase(Trimmed(value.substr(0, comma)), token)) return true;
        if (comma == std::string_view::npos) break;
        value.remove_prefix(comma + 1);
    }
    return false;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Decimal digits only; a number beyond 64 bits is the largest one.
std::optional<std::uint64_t> Number(std::string_view text) {
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        value = value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10
                    ? std::numeric_limits<std::uint64_t>::max()
                    : value * 10 + digit;
    }
    return value;
}

}  // namespace

std::size_t HeadEnd(std::string_view received, std::size_t from) {
    for (std::size_t at = received.find('\n', from); at != std::string_view::npos; at = received.find('\n', at + 1)) {
        if (at + 1 < received.size() && received[at + 1] == '\n') return at + 2;
        if (at + 2 < received.size() && received[at + 1] == '\r' && received[at + 2] == '\n') return at + 3;
    }
    return std::string_view::npos;
}

int ParseHead(std::string_view head, RequestHead& request) {
    auto lineEnd = head.find('\n');
    const std::string_view line = Trimmed(head.substr(0, lineEnd));
    const auto first = line.find(' '), last = line.rfind(' ');
    if (first == std::string_view::npos || first == last) return 400;
    request.method = line.substr(0, first);
    const std::string_view target = line.substr(first + 1, last - first - 1);
    const std::string_view version = line.substr(last + 1);
    if (!version.starts_with("HTTP/1.")) return version.starts_with("HTTP/") ? 505 : 400;
    if (version != "HTTP/1.0" && version != "HTTP/1.1") return 505;
    if (target.empty() || target.front() != '/') return 400;
    const auto mark = target.find('?');
    request.path = PercentDecoded(target.substr(0, mark), false);
    if (request.path.find('\0') != std::string::npos) return 400;
    request.query = mark == std::string_view::npos ? "" : std::string(target.substr(mark + 1));
    request.http10 = version == "HTTP/1.0";
    request.keepAlive = !request.http10;

    while (lineEnd != std::string_view::npos && lineEnd + 1 < head.size()) {
        const auto start = lineEnd + 1;
        lineEnd = head.find('\n', start);
        const std::string_view field =
            head.substr(start, lineEnd == std::string_view::npos ? lineEnd : lineEnd - start);
        if (Trimmed(field).empty()) break;
        if (field.front() == ' ' || field.front() == '\t') return 400;  // folded lines are not HTTP/1.1
        const auto colon = field.find(':');
        if (colon == std::string_view::npos || colon == 0) return 400;
        const std::string_view name = field.substr(0, colon), value = Trimmed(field.substr(colon + 1));
        if (EqualNoCase(name, "Connection")) {
            if (HasToken(value, "close")) request.keepAlive = false;
            if (request.http10 && HasToken(value, "keep-alive")) request.keepAlive = true;
        } else if (EqualNoCase(name, "Range")) {
            request.range = value;
        } else if (EqualNoCase(name, "If-Range")) {
            request.ifRange = value;
        } else if (EqualNoCase(name, "Content-Length")) {
            const auto length = Number(value);
            if (!length) return 400;
            request.hasBody = request.hasBody || *length > 0;
        } else if (EqualNoCase(name, "Transfer-Encoding")) {
            request.hasBody = true;
        }
    }
    return 0;
}

std::string PercentDecoded(std::string_view text, bool plusIsBlank) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const int high = text[i] == '%' && i + 2 < text.size() ? HexDigit(text[i + 1]) : -1;
        const int low = high >= 0 ? HexDigit(text[i + 2]) : -1;
        if (low >= 0) {
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            out += plusIsBlank && text[i] == '+' ? ' ' : text[i];
        }
    }
    return out;
}

std::string QueryValue(std::string_view query, std::string_view name) {
    while (!query.empty()) {
        const auto amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        const auto equals = pair.find('=');
        if (PercentDecoded(pair.substr(0, equals), true) == name)
            return equals == std::string_view::npos ? "" : PercentDecoded(pair.substr(equals + 1), true);
        if (amp == std::string_view::npos) break;
        query.remove_prefix(amp + 1);
    }
    return "";
}

std::optional<ByteRange> ParseRange(std::string_view header, std::uint64_t size) {
    header = Trimmed(header);
    if (header.size() < 6 || !EqualNoCase(header.substr(0, 6), "bytes=")) return std::nullopt;
    const std::string_view wanted = Trimmed(header.substr(6));
    const auto dash = wanted.find('-');
    if (dash == std::string_view::npos || wanted.find(',') != std::string_view::npos) return std::nullopt;
    const std::string_view from = Trimmed(wanted.substr(0, dash)), to = Trimmed(wanted.substr(dash + 1));
    if (from.empty()) {  // the last N bytes
        const auto suffix = Number(to);
        if (!suffix) return std::nullopt;
        if (*suffix == 0 || size == 0) return ByteRange{false, 0, 0};
        const std::uint64_t length = std::min(*suffix, size);
        return ByteRange{true, size - length, length};
    }
    const auto first = Number(from);
    const auto last = to.empty() ? std::optional<std::uint64_t>(std::numeric_limits<std::uint64_t>::max()) : Number(to);
    if (!first || !last || *last < *first) return std::nullopt;
    if (*first >= size) return ByteRange{false, 0, 0};
    return ByteRange{true, *first, std::min(*last, size - 1) - *first + 1};
}

std::string HttpDate(std::time_t time) {
    std::tm tm{};
    gmtime_r(&time, &tm);
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char text[40];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[tm.tm_wday], tm.tm_mday,
                  kMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

std::string EntityTag(std::time_t modified, std::uint64_t size) {
    char text[48];
    std::snprintf(text, sizeof text, "\"%llx-%llx\"", static_cast<unsigned long long>(modified),
                  static_cast<unsigned long long>(size));
    return text;
}

const char* StatusText(int status) {
    switch (status) {
        case 200: return "OK";
        case 206: return "Partial Content";
        case 400: return "Bad Request";
        case 404: return "Not Found";
        case 405: return "Method Not Allowed";
        case 416: return "Range Not Satisfiable";
        case 431: return "Request Header Fields Too Large";
        case 505: return "HTTP Version Not Supported";
        default: return "Internal Server Error";
    }
}

}  // namespace qlr::server
