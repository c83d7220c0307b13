#include "LogRecord.h"

#include <array>
#include <cstdio>

namespace qlr::server {

namespace {

int DaysFromCivil(int y, int m, int d) {
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

bool Digits(std::string_view text, std::size_t at, std::size_t count, int& value) {
    value = 0;
    if (at + count > text.size()) return false;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

int Hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// \xHH escapes of both servers; then, for nginx, the client's %HH and '+'.
std::string Decoded(std::string_view text, bool percentEncoded) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' && Hex(text[i + 2]) >= 0 &&
            Hex(text[i + 3]) >= 0) {
            out += static_cast<char>(Hex(text[i + 2]) * 16 + Hex(text[i + 3]));
            i += 3;
        } else {
            out += text[i];
        }
    }
    if (!percentEncoded) return out;
    std::string plain;
    plain.reserve(out.size());
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (out[i] == '%' && i + 2 < out.size() && Hex(out[i + 1]) >= 0 && Hex(out[i + 2]) >= 0) {
            plain += static_cast<char>(Hex(out[i + 1]) * 16 + Hex(out[i + 2]));
            i += 2;
        } else {
            plain += out[i] == '+' ? ' ' : out[i];
        }
    }
    return plain;
}

bool Field(std::string_view field, std::string_view key, std::string_view& value) {
    if (field.size() < key.size() + 1 || field.substr(0, key.size()) != key || field[key.size()] != '=') return false;
    value = field.substr(key.size() + 1);
    return true;
}

}  // namespace

std::optional<LogRecord> ParseLogLine(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::array<std::string_view, 7> fields;
    std::size_t count = 0;
    for (std::size_t start = 0; count < fields.size();) {
        const std::size_t tab = line.find('\t', start);
        fields[count++] = line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start);
        if (tab == std::string_view::npos) break;
        start = tab + 1;
    }
    if (count != 5 && count != 6) return std::nullopt;
    // The time: "YYYY-MM-DD HH:MM:SS" or ISO 8601 with 'T' and an offset.
    const std::string_view time = fields[0];
    int y, mo, d, h, mi, s;
    if (!Digits(time, 0, 4, y) || time.size() < 19 || time[4] != '-' || !Digits(time, 5, 2, mo) || time[7] != '-' ||
        !Digits(time, 8, 2, d) || (time[10] != ' ' && time[10] != 'T') || !Digits(time, 11, 2, h) || time[13] != ':' ||
        !Digits(time, 14, 2, mi) || time[16] != ':' || !Digits(time, 17, 2, s) || mo < 1 || mo > 12 || d < 1 ||
        d > 31 || h > 23 || mi > 59 || s > 60)
        return std::nullopt;
    const bool nginx = time[10] == 'T';
    if (nginx ? time.size() != 25 && !(time.size() == 20 && time[19] == 'Z') : time.size() != 19) return std::nullopt;
    LogRecord record;
    record.day = DaysFromCivil(y, mo, d);
    record.seconds = static_cast<std::int64_t>(record.day) * 86400 + std::int64_t{h} * 3600 + std::int64_t{mi} * 60 + s;
    record.address = std::string(fields[1]);
    if (record.address.empty()) return std::nullopt;
    std::string_view a, b, c, e;
    if (count == 5 && Field(fields[2], "School", a) && Field(fields[3], "SMSID", b) && Field(fields[4], "USER", c)) {
        record.kind = LogRecord::Kind::CheckIn;
        record.school = Decoded(a, nginx);
        record.smsid = Decoded(b, nginx);
        record.user = Decoded(c, nginx);
        return record;
    }
    int status = 0;
    if (count == 6 && Field(fields[2], "Package", a) && Field(fields[3], "Status", b) && Field(fields[4], "Bytes", c) &&
        Field(fields[5], "Complete", e) && b.size() == 3 && Digits(b, 0, 3, status) && !a.empty()) {
        record.kind = LogRecord::Kind::Download;
        record.package = Decoded(a, nginx);
        record.status = status;
        record.complete = e == "OK";
        return record;
    }
    return std::nullopt;
}

std::string DayText(int day) {
    // civil_from_days
    int z = day + 719468;
    const int era = (z >= 0 ? z : z - 146096) / 146097;
    const int doe = z - era * 146097;
    const int yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int y = yoe + era * 400;
    const int doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int mp = (5 * doy + 2) / 153;
    const int d = doy - (153 * mp + 2) / 5 + 1;
    const int m = mp + (mp < 10 ? 3 : -9);
    y += m <= 2;
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", y, m, d);
    return text;
}

}  // namespace qlr::server
