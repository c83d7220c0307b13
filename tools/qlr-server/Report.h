#pragma once
// The check-in report: what the servers' logs say about the schools, as one
// self-contained HTML page (inline SVG, no scripts, no outside files).
// Memory grows with schools, days and packages, never with log lines.

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "LogRecord.h"

namespace qlr::server {

class Report {
public:
    explicit Report(int quietDays) : quietDays_(quietDays) {}

    // Records must come in time order (ReadLogs merges the logs so).
    void Add(const LogRecord& record);
    void AddDamaged() { ++damaged_; }
    std::string Html() const;

    struct Totals {
        std::uint64_t lines = 0, damaged = 0, checkIns = 0, downloads = 0, incomplete = 0, uncredited = 0;
        std::size_t schools = 0;
    };
    Totals Counts() const;

private:
    struct School {
        std::string name, smsid;
        int lastDay = 0;
    };
    struct Visit {
        int school;
        std::int64_t seconds;
    };

    int SchoolOf(const LogRecord& record);

    int quietDays_;
    std::uint64_t lines_ = 0, damaged_ = 0, checkIns_ = 0, downloads_ = 0, incomplete_ = 0, uncredited_ = 0;
    std::unordered_map<std::string, int> schoolIds_;
    std::vector<School> schools_;
    std::map<int, std::set<int>> seen_;                        // day -> schools
    std::map<std::string, std::map<int, std::set<int>>> got_;  // package -> day -> schools
    std::unordered_map<std::string, Visit> lastVisit_;         // address -> latest check-in
};

// Reads the logs, merged by time, into the report; a line that is not a
// check-in line is counted as damaged and skipped. Throws std::runtime_error
// when a log cannot be opened.
void ReadLogs(const std::vector<std::string>& files, Report& report);

}  // namespace qlr::server
