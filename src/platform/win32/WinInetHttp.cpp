#include "platform/win32/WinInetHttp.h"

#include <windows.h>

#include <wininet.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/win32/Handles.h"
#include "platform/win32/SystemDlls.h"

namespace qlr::win32 {

namespace {

// Large blocks: under Wine every WinInet call is a round trip to its server, and 64 KiB
// blocks made a download three times slower than curl.
constexpr std::size_t kBlockSize = std::size_t{1} << 20;
constexpr int kMostRedirects = 10;

using Clock = std::chrono::steady_clock;

std::optional<std::string> QueryText(HINTERNET request, DWORD what) {
    char text[2048];
    DWORD size = sizeof text - 1;
    DWORD index = 0;
    if (!wininet::HttpQueryInfoA(request, what, text, &size, &index)) return std::nullopt;
    return std::string(text, size);
}

// A header by name, as the server sent it.
std::optional<std::string> QueryHeader(HINTERNET request, const std::string& name) {
    char text[1024] = {};
    if (name.size() >= sizeof text) return std::nullopt;
    std::memcpy(text, name.data(), name.size());
    DWORD size = sizeof text - 1;
    DWORD index = 0;
    if (!wininet::HttpQueryInfoA(request, HTTP_QUERY_CUSTOM, text, &size, &index)) return std::nullopt;
    return std::string(text, size);
}

std::optional<long long> QueryNumber(HINTERNET request, DWORD what) {
    auto text = QueryText(request, what);
    if (!text || text->empty()) return std::nullopt;
    char* end = nullptr;
    long long value = std::strtoll(text->c_str(), &end, 10);
    if (end == text->c_str() || *end != '\0' || value < 0) return std::nullopt;
    return value;
}

struct Address {
    bool secure = false;
    std::string host, target;
    INTERNET_PORT port = 0;
};

// Only http and https addresses are fetched, redirected to or not.
std::optional<Address> Split(const std::string& url) {
    char host[256] = {}, path[2048] = {}, extra[2048] = {};
    URL_COMPONENTSA parts{};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = sizeof host;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = sizeof path;
    parts.lpszExtraInfo = extra;
    parts.dwExtraInfoLength = sizeof extra;
    if (!wininet::InternetCrackUrlA(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) return std::nullopt;
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) return std::nullopt;
    Address address;
    address.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    address.host = host;
    address.port = parts.nPort;
    address.target = std::string(path) + extra;
    if (address.target.empty()) address.target = "/";
    return address;
}

std::optional<std::string> Resolve(const std::string& base, const std::string& location) {
    std::vector<char> combined(base.size() + location.size() + 64);
    DWORD size = static_cast<DWORD>(combined.size());
    if (!wininet::InternetCombineUrlA(base.c_str(), location.c_str(), combined.data(), &size, ICU_NO_ENCODE))
        return std::nullopt;
    return std::string(combined.data(), size);
}

bool IsRedirect(long long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The body in blocks of at most kBlockSize, each no more than WinInet holds
// at the time, so a trickling server is noticed between blocks instead of
// holding one read for ever.
class WinInetResponse final : public HttpResponse {
public:
    WinInetResponse(InternetHandle connection, InternetHandle request, std::chrono::milliseconds limit)
        : connection_(std::move(connection)),
          request_(std::move(request)),
          limit_(limit),
          announced_(QueryNumber(request_.get(), HTTP_QUERY_CONTENT_LENGTH)),
          block_(kBlockSize),
          windowStart_(Clock::now()) {}

    HttpRead Read(char* buffer, std::size_t count) override {
        std::size_t filled = 0;
        while (filled < count) {
            if (next_ == end_ && !FillBlock()) break;
            std::size_t n = std::min(count - filled, end_ - next_);
            std::memcpy(buffer + filled, block_.data() + next_, n);
            next_ += n;
            filled += n;
        }
        if (filled == 0 && failed_) return HttpRead{0, true};
        return HttpRead{filled, false};
    }

    std::optional<std::int64_t> AnnouncedLength() override {
        if (!announced_) return std::nullopt;
        return static_cast<std::int64_t>(*announced_);
    }

    int Status() override {
        auto status = QueryNumber(request_.get(), HTTP_QUERY_STATUS_CODE);
        return status && *status < 1000 ? static_cast<int>(*status) : 0;
    }

    std::optional<std::string> Header(const std::string& name) override { return QueryHeader(request_.get(), name); }

private:
    // False at the end of the body or when the transfer failed.
    bool FillBlock() {
        next_ = end_ = 0;
        if (ended_ || failed_) return false;
        std::size_t wanted = kBlockSize;
        if (announced_) {
            // Bytes past the announced length are not part of the body.
            long long left = *announced_ - received_;
            if (left <= 0) return Stop(false);
            wanted = static_cast<std::size_t>(std::min<long long>(left, kBlockSize));
        }
        // Only the query waits (up to the receive timeout; 0 at the end of the body). A read never asks for
        // more than is there: Wine's synchronous reads wait for the whole block, IRF_NO_WAIT or not, and a
        // trickling server would hold one of them past any time limit.
        DWORD available = 0;
        if (!wininet::InternetQueryDataAvailable(request_.get(), &available, 0, 0)) return Stop(true);
        if (available == 0) return Stop(false);
        DWORD got = 0;
        const auto asked = static_cast<DWORD>(std::min<std::size_t>(available, wanted));
        if (!wininet::InternetReadFile(request_.get(), block_.data(), asked, &got)) return Stop(true);
        if (got == 0) return Stop(false);
        end_ = std::min<std::size_t>(got, wanted);
        Count(end_);
        return true;
    }

    void Count(std::size_t n) {
        received_ += static_cast<long long>(n);
        windowBytes_ += n;
        if (windowBytes_ >= kHttpLeastBytes) {
            windowBytes_ = 0;
            windowStart_ = Clock::now();
        } else if (Clock::now() - windowStart_ >= limit_) {
            failed_ = true;  // what came is kept for this read; the next one fails
        }
    }

    bool Stop(bool failed) {
        (failed ? failed_ : ended_) = true;
        return false;
    }

    InternetHandle connection_;
    InternetHandle request_;
    std::chrono::milliseconds limit_;
    std::optional<long long> announced_;
    std::vector<char> block_;
    std::size_t next_ = 0, end_ = 0;
    long long received_ = 0;
    std::size_t windowBytes_ = 0;
    Clock::time_point windowStart_;
    bool ended_ = false, failed_ = false;
};

class WinInetSession final : public HttpSession {
public:
    WinInetSession(HINTERNET session, std::chrono::milliseconds limit) : session_(session), limit_(limit) {}

    std::unique_ptr<HttpResponse> OpenUrl(const std::string& url) override { return Open(url, ""); }

    std::unique_ptr<HttpResponse> OpenRange(const std::string& url, const HttpRange& range) override {
        return Open(url, "Range: bytes=" + std::to_string(range.from) + "-\r\nIf-Range: " + range.validator + "\r\n");
    }

private:
    std::unique_ptr<HttpResponse> Open(const std::string& url, const std::string& headers) {
        std::string current = url;
        bool secure = false;
        for (int hop = 0; hop <= kMostRedirects; ++hop) {
            auto address = Split(current);
            if (!address) return nullptr;
            // Once on https, never down to plain http, where anyone on the path could answer.
            if (secure && !address->secure) return nullptr;
            secure = address->secure;
            InternetHandle connection(wininet::InternetConnectA(session_.get(), address->host.c_str(), address->port,
                                                                nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
            if (!connection) return nullptr;
            // Redirects are followed here, so that each hop is checked and timed.
            DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTO_REDIRECT |
                          INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI | (address->secure ? INTERNET_FLAG_SECURE : 0);
            InternetHandle request(wininet::HttpOpenRequestA(connection.get(), "GET", address->target.c_str(), nullptr,
                                                             nullptr, nullptr, flags, 0));
            if (!request) return nullptr;
            // Set before sending: WinInet takes them when it opens the connection.
            DWORD ms = static_cast<DWORD>(limit_.count());
            for (DWORD option :
                 {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT})
                wininet::InternetSetOptionA(request.get(), option, &ms, sizeof ms);
            if (!wininet::HttpSendRequestA(request.get(), headers.empty() ? nullptr : headers.c_str(),
                                           static_cast<DWORD>(headers.size()), nullptr, 0))
                return nullptr;
            // A connection closed before a status line is no response at all.
            auto version = QueryText(request.get(), HTTP_QUERY_VERSION);
            auto status = QueryNumber(request.get(), HTTP_QUERY_STATUS_CODE);
            if (!version || version->rfind("HTTP/1.", 0) != 0 || !status || *status < 100) return nullptr;
            if (IsRedirect(*status)) {
                auto location = QueryText(request.get(), HTTP_QUERY_LOCATION);
                if (location) {
                    auto next = Resolve(current, *location);
                    if (!next) return nullptr;
                    current = *next;
                    continue;
                }
            }
            return std::make_unique<WinInetResponse>(std::move(connection), std::move(request), limit_);
        }
        return nullptr;
    }

    InternetHandle session_;
    std::chrono::milliseconds limit_;
};

}  // namespace

std::unique_ptr<HttpSession> OpenWinInetSession(const std::string& agent, std::chrono::milliseconds limit) {
    HINTERNET session = wininet::InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!session) return nullptr;
    return std::make_unique<WinInetSession>(session, limit);
}

}  // namespace qlr::win32
