#include "CheckInLog.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <iostream>

namespace qlr::server {

CheckInLog::CheckInLog(std::filesystem::path file)
    : file_(std::move(file)), out_(file_, std::ios::app | std::ios::binary), writer_([this] { Run(); }) {}

CheckInLog::~CheckInLog() { Close(); }

void CheckInLog::Add(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closing_) return;
    gathered_ += line;
    gathered_ += '\n';
}

void CheckInLog::Close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closing_) return;
        closing_ = true;
    }
    wake_.notify_one();
    writer_.join();
}

void CheckInLog::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!closing_) {
        wake_.wait_for(lock, std::chrono::milliseconds(200), [this] { return closing_; });
        WriteGathered(lock);
    }
    WriteGathered(lock);
}

void CheckInLog::WriteGathered(std::unique_lock<std::mutex>& lock) {
    if (gathered_.empty()) return;
    std::string text;
    text.swap(gathered_);
    // Requests go on gathering while the disk is written.
    lock.unlock();
    std::cout << text << std::flush;
    out_ << text << std::flush;
    lock.lock();
}

std::string Printable(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f || c == '\\') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string LocalTimeText() {
    // localtime_r takes a process-wide lock: once a second per thread is enough.
    thread_local std::time_t last = -1;
    thread_local char text[32];
    const std::time_t t = std::time(nullptr);
    if (t != last) {
        std::tm tm{};
        localtime_r(&t, &tm);
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
        last = t;
    }
    return text;
}

}  // namespace qlr::server
