#include "platform/sandbox/CurlHttp.h"

#include <curl/curl.h>
#include <strings.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qlr::sandbox {

namespace {

bool GlobalInit() {
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] { ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ok;
}

struct EasyHandle {
    CURL* h = curl_easy_init();
    ~EasyHandle() {
        if (h) curl_easy_cleanup(h);
    }
};

struct MultiHandle {
    CURLM* h = curl_multi_init();
    ~MultiHandle() {
        if (h) curl_multi_cleanup(h);
    }
};

struct HeaderList {
    curl_slist* list = nullptr;
    ~HeaderList() { curl_slist_free_all(list); }
    void Add(const char* line) { list = curl_slist_append(list, line); }
};

using Clock = std::chrono::steady_clock;
// Header lines longer than this are not kept (a validator or range is far shorter).
constexpr std::size_t kLongestHeader = 1024;

bool IsHttps(const std::string& url) { return url.size() >= 8 && strncasecmp(url.c_str(), "https://", 8) == 0; }

// One transfer driven by the multi interface, so that the body can be
// pulled in small reads while libcurl never holds more than one piece
// (CURLOPT_BUFFERSIZE) and the time limit is kept between pieces.
class CurlResponse final : public HttpResponse {
public:
    CurlResponse(const std::string& url, const std::string& agent, const CurlOptions& options,
                 const HttpRange* range = nullptr)
        : limit_(options.timeLimit) {
        if (!easy_.h || !multi_.h) return;
        headers_.Add("Cache-Control: no-cache");
        headers_.Add("Pragma: no-cache");
        headers_.Add("Accept:");  // no extra headers beyond what a plain GET carries
        if (range) {
            headers_.Add(("If-Range: " + range->validator).c_str());
            curl_easy_setopt(easy_.h, CURLOPT_RANGE, (std::to_string(range->from) + "-").c_str());
        }
        curl_easy_setopt(easy_.h, CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy_.h, CURLOPT_USERAGENT, agent.c_str());
        curl_easy_setopt(easy_.h, CURLOPT_HTTPHEADER, headers_.list);
        curl_easy_setopt(easy_.h, CURLOPT_PROTOCOLS_STR, "http,https");
        // Once on https, a redirect to plain http would hand the transfer to anyone on the path.
        curl_easy_setopt(easy_.h, CURLOPT_REDIR_PROTOCOLS_STR, IsHttps(url) ? "https" : "http,https");
        curl_easy_setopt(easy_.h, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(easy_.h, CURLOPT_MAXREDIRS, 10L);
        curl_easy_setopt(easy_.h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limit_.count()));
        if (!options.extraRoots.empty()) curl_easy_setopt(easy_.h, CURLOPT_CAINFO, options.extraRoots.c_str());
        curl_easy_setopt(easy_.h, CURLOPT_BUFFERSIZE, 64L * 1024L);
        curl_easy_setopt(easy_.h, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy_.h, CURLOPT_WRITEFUNCTION, &CurlResponse::OnBody);
        curl_easy_setopt(easy_.h, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(easy_.h, CURLOPT_HEADERFUNCTION, &CurlResponse::OnHeader);
        curl_easy_setopt(easy_.h, CURLOPT_HEADERDATA, this);
        if (curl_multi_add_handle(multi_.h, easy_.h) != CURLM_OK) return;
        added_ = true;
    }

    ~CurlResponse() override {
        if (added_) curl_multi_remove_handle(multi_.h, easy_.h);
    }

    // Runs the transfer until the final response's headers arrived, within the time limit.
    bool Open() {
        if (!added_) return false;
        windowStart_ = Clock::now();
        while (!headersDone_ && !done_) Pump();
        if (headersDone_) {
            windowStart_ = Clock::now();
            windowBytes_ = 0;
            return true;
        }
        return false;
    }

    HttpRead Read(char* buffer, std::size_t count) override {
        std::size_t filled = 0;
        while (filled < count) {
            while (pending_.size() == offset_ && !done_) Pump();
            if (pending_.size() == offset_) break;
            std::size_t n = std::min(count - filled, pending_.size() - offset_);
            std::memcpy(buffer + filled, pending_.data() + offset_, n);
            offset_ += n;
            filled += n;
            if (offset_ == pending_.size()) {
                pending_.clear();
                offset_ = 0;
                if (paused_) {
                    paused_ = false;
                    curl_easy_pause(easy_.h, CURLPAUSE_CONT);  // may hand over the held piece at once
                }
            }
        }
        if (filled == 0) return HttpRead{0, result_ != CURLE_OK};
        return HttpRead{filled, false};
    }

    std::optional<std::int64_t> AnnouncedLength() override {
        curl_off_t length = -1;
        if (curl_easy_getinfo(easy_.h, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK || length < 0)
            return std::nullopt;
        return static_cast<std::int64_t>(length);
    }

    int Status() override { return static_cast<int>(status_); }

    std::optional<std::string> Header(const std::string& name) override {
        for (const auto& [seen, value] : headerValues_)
            if (strcasecmp(seen.c_str(), name.c_str()) == 0) return value;
        return std::nullopt;
    }

private:
    void Pump() {
        const auto waited = Clock::now() - windowStart_;
        if (waited >= limit_) {
            Finish(CURLE_OPERATION_TIMEDOUT);
            return;
        }
        progress_ = false;
        int running = 0;
        CURLMcode mc = curl_multi_perform(multi_.h, &running);
        if (mc != CURLM_OK) {
            Finish(CURLE_RECV_ERROR);
            return;
        }
        int queued = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi_.h, &queued)) {
            if (msg->msg == CURLMSG_DONE) Finish(msg->data.result);
        }
        if (done_ || running == 0) {
            if (!done_) Finish(CURLE_OK);
            return;
        }
        if (progress_) return;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(limit_ - waited).count();
        curl_multi_poll(multi_.h, nullptr, 0, static_cast<int>(std::clamp<long long>(left, 1, 1000)), nullptr);
    }

    void Finish(CURLcode result) {
        done_ = true;
        result_ = result;
    }

    static size_t OnBody(char* data, size_t size, size_t count, void* self) {
        auto* me = static_cast<CurlResponse*>(self);
        me->headersDone_ = true;
        me->progress_ = true;
        // One piece at a time: the next waits inside libcurl until this one is read.
        if (me->offset_ < me->pending_.size()) {
            me->paused_ = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        me->pending_.assign(data, size * count);
        me->offset_ = 0;
        // At least kHttpLeastBytes within each time limit, or the transfer fails.
        me->windowBytes_ += size * count;
        if (me->windowBytes_ >= kHttpLeastBytes) {
            me->windowBytes_ = 0;
            me->windowStart_ = Clock::now();
        }
        return size * count;
    }

    // Notes the status of each response and when the one that carries the body has ended its headers.
    static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
        auto* me = static_cast<CurlResponse*>(self);
        std::string_view line(data, size * count);
        if (line.rfind("HTTP/", 0) == 0) {
            auto blank = line.find(' ');
            me->status_ =
                blank == std::string_view::npos ? 0 : std::atoi(std::string(line.substr(blank + 1, 3)).c_str());
            me->redirect_ = false;
            me->headerValues_.clear();
        } else if (line.size() >= 9 && strncasecmp(line.data(), "location:", 9) == 0) {
            me->redirect_ = true;
        } else if (auto colon = line.find(':'); colon != std::string_view::npos && line.size() <= kLongestHeader) {
            std::string name(line.substr(0, colon));
            for (const char* kept : {"ETag", "Last-Modified", "Content-Range"}) {
                if (strcasecmp(name.c_str(), kept) != 0) continue;
                auto value = line.substr(colon + 1);
                value.remove_prefix(std::min(value.find_first_not_of(" \t"), value.size()));
                value = value.substr(0, value.find_last_not_of(" \t\r\n") + 1);
                me->headerValues_.emplace_back(kept, std::string(value));
            }
        }
        if (line == "\r\n" || line == "\n") {
            bool interim = me->status_ >= 100 && me->status_ < 200;
            bool followed = me->status_ >= 300 && me->status_ < 400 && me->redirect_;
            if (!interim && !followed) me->headersDone_ = true;
            me->progress_ = true;
        }
        return size * count;
    }

    std::chrono::milliseconds limit_;
    Clock::time_point windowStart_ = Clock::now();
    std::size_t windowBytes_ = 0;
    EasyHandle easy_;
    MultiHandle multi_;
    HeaderList headers_;
    bool added_ = false;
    bool done_ = false;
    bool headersDone_ = false;
    bool redirect_ = false;
    bool paused_ = false;
    bool progress_ = false;
    long status_ = 0;
    CURLcode result_ = CURLE_OK;
    std::string pending_;
    std::size_t offset_ = 0;
    std::vector<std::pair<std::string, std::string>> headerValues_;  // the few that a resume needs
};

class CurlSession final : public HttpSession {
public:
    CurlSession(std::string agent, CurlOptions options) : agent_(std::move(agent)), options_(std::move(options)) {}
    std::unique_ptr<HttpResponse> OpenUrl(const std::string& url) override {
        auto response = std::make_unique<CurlResponse>(url, agent_, options_);
        if (!response->Open()) return nullptr;
        return response;
    }
    std::unique_ptr<HttpResponse> OpenRange(const std::string& url, const HttpRange& range) override {
        auto response = std::make_unique<CurlResponse>(url, agent_, options_, &range);
        if (!response->Open()) return nullptr;
        return response;
    }

private:
    std::string agent_;
    CurlOptions options_;
};

}  // namespace

std::unique_ptr<HttpSession> OpenCurlSession(const std::string& agent, CurlOptions options) {
    if (!GlobalInit()) return nullptr;
    return std::make_unique<CurlSession>(agent, std::move(options));
}

}  // namespace qlr::sandbox
