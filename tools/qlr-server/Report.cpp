#include "Report.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <limits>
#include <memory>
#include <stdexcept>

namespace qlr::server {

namespace {

// A package request is credited to the school whose check-in from the same
// address came last, at most this long before.
constexpr std::int64_t kCreditWindow = std::int64_t{6} * 3600;
constexpr std::size_t kMaxLine = std::size_t{64} * 1024;

// Reads one log line by line, holding at most kMaxLine bytes of it.
class LogReader {
public:
    explicit LogReader(const std::string& file) : in_(file, std::ios::binary), buffer_(kMaxLine + 2) {
        if (!in_) throw std::runtime_error("cannot open " + file);
    }
    // The next good record, counting lines and damaged ones on the way; false at the end.
    bool Next(Report& report, std::uint64_t& lines) {
        for (;;) {
            in_.getline(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
            std::size_t length = static_cast<std::size_t>(in_.gcount());
            bool tooLong = false;
            if (in_.fail() && !in_.eof() && length > 0) {
                // Longer than any check-in line: skip the rest of it.
                tooLong = true;
                in_.clear();
                in_.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
            } else if (in_.fail() && length == 0) {
                return false;
            } else if (!in_.eof()) {
                --length;  // the '\n' counted by gcount
            }
            if (length == 0 && in_.eof()) return false;
            if (length == 0) continue;  // a blank line says nothing
            ++lines;
            auto record = tooLong ? std::nullopt : ParseLogLine(std::string_view(buffer_.data(), length));
            if (!record) {
                report.AddDamaged();
                continue;
            }
            current = std::move(*record);
            return true;
        }
    }
    LogRecord current;

private:
    std::ifstream in_;
    std::vector<char> buffer_;
};

}  // namespace

int Report::SchoolOf(const LogRecord& record) {
    const std::string key = record.smsid != "x" ? "id:" + record.smsid : "name:" + record.school;
    auto [found, added] = schoolIds_.emplace(key, static_cast<int>(schools_.size()));
    if (added) schools_.push_back(School{record.school, record.smsid, record.day});
    School& school = schools_[found->second];
    school.name = record.school;
    school.lastDay = std::max(school.lastDay, record.day);
    return found->second;
}

void Report::Add(const LogRecord& record) {
    ++lines_;
    if (record.kind == LogRecord::Kind::CheckIn) {
        ++checkIns_;
        const int school = SchoolOf(record);
        seen_[record.day].insert(school);
        lastVisit_[record.address] = Visit{school, record.seconds};
        return;
    }
    // A resumed download ends with the 206 that delivered its last part.
    if (record.status != 200 && record.status != 206) return;
    if (!record.complete) {
        ++incomplete_;
        return;
    }
    ++downloads_;
    auto visit = lastVisit_.find(record.address);
    if (visit == lastVisit_.end() || record.seconds - visit->second.seconds > kCreditWindow) {
        ++uncredited_;
        return;
    }
    got_[record.package][record.day].insert(visit->second.school);
}

Report::Totals Report::Counts() const {
    return Totals{lines_ + damaged_, damaged_, checkIns_, downloads_, incomplete_, uncredited_, schools_.size()};
}

void ReadLogs(const std::vector<std::string>& files, Report& report) {
    std::vector<std::unique_ptr<LogReader>> readers;
    std::uint64_t lines = 0;
    for (const auto& file : files) {
        auto reader = std::make_unique<LogReader>(file);
        if (reader->Next(report, lines)) readers.push_back(std::move(reader));
    }
    // Merged by time: a check-in logged by one server credits a download logged by another.
    while (!readers.empty()) {
        auto earliest = std::min_element(readers.begin(), readers.end(), [](const auto& a, const auto& b) {
            return a->current.seconds < b->current.seconds;
        });
        report.Add((*earliest)->current);
        if (!(*earliest)->Next(report, lines)) readers.erase(earliest);
    }
}

}  // namespace qlr::server
