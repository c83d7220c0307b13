#include "platform/win32/WinInetHttp.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cstdlib>

#include "platform/win32/Handles.h"

namespace qlr::win32 {

namespace {

class WinInetResponse final : public HttpResponse {
public:
    explicit WinInetResponse(HINTERNET url) : url_(url) {}

    HttpRead Read(char* buffer, std::size_t count) override {
        DWORD delivered = 0;
        DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(count, 0x7fffffff));
        if (!InternetReadFile(url_.get(), buffer, wanted, &delivered)) return HttpRead{0, true};
        return HttpRead{delivered, false};
    }

    std::optional<std::int64_t> AnnouncedLength() override {
        char text[32] = {};
        DWORD size = sizeof text - 1;
        DWORD index = 0;
        if (!HttpQueryInfoA(url_.get(), HTTP_QUERY_CONTENT_LENGTH, text, &size, &index)) return std::nullopt;
        char* end = nullptr;
        long long length = std::strtoll(text, &end, 10);
        if (end == text || length < 0) return std::nullopt;
        return static_cast<std::int64_t>(length);
    }

private:
    InternetHandle url_;
};

class WinInetSession final : public HttpSession {
public:
    explicit WinInetSession(HINTERNET session) : session_(session) {}

    std::unique_ptr<HttpResponse> OpenUrl(const std::string& url) override {
        HINTERNET handle = InternetOpenUrlA(session_.get(), url.c_str(), nullptr, 0, INTERNET_FLAG_RELOAD, 0);
        if (!handle) return nullptr;
        return std::make_unique<WinInetResponse>(handle);
    }

private:
    InternetHandle session_;
};

}  // namespace

std::unique_ptr<HttpSession> OpenWinInetSession(const std::string& agent) {
    HINTERNET session = InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!session) return nullptr;
    return std::make_unique<WinInetSession>(session);
}

}  // namespace qlr::win32
