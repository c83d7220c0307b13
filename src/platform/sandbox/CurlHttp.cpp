#include "platform/sandbox/CurlHttp.h"

#include <curl/curl.h>
#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>

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

// One transfer driven by the multi interface, so that the body can be
// pulled in small reads while libcurl never holds more than one piece.
class CurlResponse final : public HttpResponse {
public:
    CurlResponse(const std::string& url, const std::string& agent) {
        if (!easy_.h || !multi_.h) return;
        headers_.Add("Cache-Control: no-cache");
        headers_.Add("Pragma: no-cache");
        headers_.Add("Accept:");  // no extra headers beyond what a plain GET carries
        curl_easy_setopt(easy_.h, CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy_.h, CURLOPT_USERAGENT, agent.c_str());
        curl_easy_setopt(easy_.h, CURLOPT_HTTPHEADER, headers_.list);
        curl_easy_setopt(easy_.h, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(easy_.h, CURLOPT_MAXREDIRS, 10L);
        curl_easy_setopt(easy_.h, CURLOPT_CONNECTTIMEOUT, 60L);
        // A stalled transfer fails rather than hanging the run for ever.
        curl_easy_setopt(easy_.h, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(easy_.h, CURLOPT_LOW_SPEED_TIME, 60L);
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

    // Runs the transfer until the final response's headers arrived.
    bool Open() {
        if (!added_) return false;
        while (!headersDone_ && !done_) Pump();
        if (headersDone_) return true;
        return result_ == CURLE_OK;  // a transfer without headers (file:, ftp:) that ended well
    }

    HttpRead Read(char* buffer, std::size_t count) override {
        while (pending_.size() == offset_ && !done_) Pump();
        if (pending_.size() == offset_) return HttpRead{0, result_ != CURLE_OK};
        std::size_t n = std::min(count, pending_.size() - offset_);
        std::memcpy(buffer, pending_.data() + offset_, n);
        offset_ += n;
        if (offset_ == pending_.size()) {
            pending_.clear();
            offset_ = 0;
            if (paused_) {
                paused_ = false;
                curl_easy_pause(easy_.h, CURLPAUSE_CONT);  // may hand over the held piece at once
            }
        }
        return HttpRead{n, false};
    }

    std::optional<std::int64_t> AnnouncedLength() override {
        curl_off_t length = -1;
        if (curl_easy_getinfo(easy_.h, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK || length < 0)
            return std::nullopt;
        return static_cast<std::int64_t>(length);
    }

private:
    void Pump() {
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
        curl_multi_poll(multi_.h, nullptr, 0, 1000, nullptr);
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
        return size * count;
    }

    // Notes the status of each response and when the one that carries the body has ended its headers.
    static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
        auto* me = static_cast<CurlResponse*>(self);
        std::string_view line(data, size * count);
        if (line.rfind("HTTP/", 0) == 0) {
            auto blank = line.find(' ');
            me->status_ = blank == std::string_view::npos
                              ? 0
                              : std::atoi(std::string(line.substr(blank + 1, 3)).c_str());
            me->redirect_ = false;
        } else if (line.size() >= 9 && strncasecmp(line.data(), "location:", 9) == 0) {
            me->redirect_ = true;
        } else if (line == "\r\n" || line == "\n") {
            bool interim = me->status_ >= 100 && me->status_ < 200;
            bool followed = me->status_ >= 300 && me->status_ < 400 && me->redirect_;
            if (!interim && !followed) me->headersDone_ = true;
            me->progress_ = true;
        }
        return size * count;
    }

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
};

class CurlSession final : public HttpSession {
public:
    explicit CurlSession(std::string agent) : agent_(std::move(agent)) {}
    std::unique_ptr<HttpResponse> OpenUrl(const std::string& url) override {
        auto response = std::make_unique<CurlResponse>(url, agent_);
        if (!response->Open()) return nullptr;
        return response;
    }

private:
    std::string agent_;
};

}  // namespace

std::unique_ptr<HttpSession> OpenCurlSession(const std::string& agent) {
    if (!GlobalInit()) return nullptr;
    return std::make_unique<CurlSession>(agent);
}

}  // namespace qlr::sandbox
