#include "Publisher.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstring>
#include <iostream>

namespace qlr::server {

namespace {

// A file counts once it is closed or moved in: one still being written (a package being
// copied, rollout.txt half saved) is never published.
constexpr std::uint32_t kChanges = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE | IN_ATTRIB;

}  // namespace

Publisher::Publisher(std::filesystem::path root) : root_(std::move(root)) {
    inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_ >= 0) inotify_add_watch(inotify_, root_.c_str(), kChanges | IN_DELETE_SELF | IN_MOVE_SELF);
    Watch();
    Adopt(std::make_shared<Publication>(BuildPublication(root_)));
}

Publisher::~Publisher() {
    if (inotify_ >= 0) close(inotify_);
}

void Publisher::Watch() {
    if (inotify_ < 0 || updatesWatch_ >= 0) return;
    updatesWatch_ = inotify_add_watch(inotify_, (root_ / "updates").c_str(), kChanges);
}

// Reads every queued event; true when one concerns the packages or the rollout.
bool Publisher::Changed(bool wait) {
    if (inotify_ < 0) return true;
    if (wait) {
        pollfd fd{inotify_, POLLIN, 0};
        while (poll(&fd, 1, -1) < 0 && errno == EINTR) {
        }
    }
    bool changed = updatesWatch_ < 0;
    alignas(inotify_event) char buffer[16384];
    for (;;) {
        ssize_t n = read(inotify_, buffer, sizeof buffer);
        if (n <= 0) break;
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            const char* name = event->len ? event->name : "";
            const bool inUpdates = event->wd == updatesWatch_;
            if (inUpdates && (event->mask & IN_IGNORED)) updatesWatch_ = -1;
            if ((event->mask & IN_CREATE) && !(event->mask & IN_ISDIR)) continue;
            if (inUpdates || (event->mask & IN_Q_OVERFLOW) || std::strcmp(name, "rollout.txt") == 0 ||
                std::strcmp(name, "updates") == 0)
                changed = true;
        }
    }
    return changed;
}

void Publisher::Publish() {
    Watch();
    try {
        Adopt(std::make_shared<Publication>(BuildPublication(root_)));
    } catch (const RolloutError& error) {
        std::cerr << "qlr-server: " << error.what() << " (still serving the last good lists)\n";
    }
}

void Publisher::Adopt(std::shared_ptr<const Publication> next) {
    if (!current_ || current_->warnings != next->warnings)
        for (const auto& warning : next->warnings) std::cerr << "qlr-server: " << warning << "\n";
    current_ = std::move(next);
    try {
        WritePublication(root_, *current_);
    } catch (const std::exception& error) {
        std::cerr << "qlr-server: " << error.what() << " (the lists are served from memory)\n";
    }
}

std::shared_ptr<const Publication> Publisher::Current() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (inotify_ < 0) Publish();
    return current_;
}

void Publisher::Refresh() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (Changed(false)) Publish();
}

bool Publisher::WaitForChange() {
    if (inotify_ < 0) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    while (!Changed(true)) {
    }
    Publish();
    return true;
}

}  // namespace qlr::server
