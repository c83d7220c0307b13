#pragma once
// One line of a check-in log, of either kind:
//   qlr-server:  2026-12-09 08:01:02<TAB>ADDRESS<TAB>School=..<TAB>SMSID=..<TAB>USER=..
//   nginx:       2026-12-09T08:01:02+01:00<TAB>ADDRESS<TAB>School=..<TAB>...
// and package lines "...<TAB>Package=NAME.pak<TAB>Status=200<TAB>Bytes=N<TAB>Complete=OK".
// qlr-server writes values decoded with bytes below 0x20 and '\' as \xHH;
// nginx writes them as the client sent them (percent-encoded) with its own
// \xHH escapes. Both read back to the same text.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qlr::server {

struct LogRecord {
    enum class Kind { CheckIn, Download } kind = Kind::CheckIn;
    int day = 0;               // days since 1970-01-01, the server's local date
    std::int64_t seconds = 0;  // local wall-clock time, seconds since 1970-01-01
    std::string address;
    std::string school, smsid, user;  // check-ins
    std::string package;              // downloads
    int status = 0;
    bool complete = false;
};

// Nothing when the line is damaged.
std::optional<LogRecord> ParseLogLine(std::string_view line);

// "YYYY-MM-DD" of a day number.
std::string DayText(int day);

}  // namespace qlr::server
