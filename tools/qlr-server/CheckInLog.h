#pragma once
// The check-in log: one line per list request and per package request,
// appended to a file and echoed to standard output. Lines are gathered and
// written by a background thread at least every 200 ms, and on Close, so a
// busy server does not write once per line.

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

namespace qlr::server {

class CheckInLog {
public:
    explicit CheckInLog(std::filesystem::path file);
    ~CheckInLog();
    CheckInLog(const CheckInLog&) = delete;
    CheckInLog& operator=(const CheckInLog&) = delete;

    void Add(const std::string& line);  // without its line end
    void Close();                       // writes what is gathered; later lines are dropped

private:
    void Run();
    void WriteGathered(std::unique_lock<std::mutex>& lock);

    std::filesystem::path file_;
    std::ofstream out_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::string gathered_;
    bool closing_ = false;
    std::thread writer_;
};

// Check-in values come from anyone: keep the log one line per request.
std::string Printable(const std::string& text);

// Local time as "YYYY-MM-DD HH:MM:SS".
std::string LocalTimeText();

}  // namespace qlr::server
