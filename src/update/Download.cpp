#include <algorithm>
#include <cstdlib>
#include <limits>
#include <optional>
#include <vector>

#include "app/main.h"
#include "base/SmallFile.h"
#include "base/Text.h"
#include "update/BufferedWriter.h"

namespace qlr {

namespace {
constexpr std::size_t kReadSize = 1025;
// BytesRead is a signed 32-bit count: a longer reply is not a download this program can hold.
constexpr std::int64_t kLargestBody = std::numeric_limits<std::int32_t>::max();
constexpr int kMostResumes = 5;
constexpr std::int64_t kLeast = static_cast<std::int64_t>(kHttpLeastBytes);
constexpr std::int64_t kPartialDays = 7;
constexpr std::size_t kLongestRecord = 4096;

std::optional<std::int64_t> Number(const std::string& text) {
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::strtoll(text.c_str(), nullptr, 10);
}

// What names the version of the body (its ETag, else its Last-Modified); the rest is asked
// for only while it is still the same. Empty, so no resume, for what cannot go back into a header.
std::string Validator(HttpResponse& response) {
    for (const char* name : {"ETag", "Last-Modified"}) {
        const auto value = response.Header(name);
        if (!value || value->empty()) continue;
        const bool clean = value->size() <= 200 && std::all_of(value->begin(), value->end(), [](char c) {
                               return static_cast<unsigned char>(c) >= 0x20 && c != 0x7f;
                           });
        return clean ? *value : "";
    }
    return "";
}

bool IsEntityTag(const std::string& validator) { return validator.starts_with('"') || validator.starts_with("W/"); }

// A 206 that carries exactly the rest of the same body: "bytes from-(total-1)/total".
bool IsTheRest(HttpResponse& response, std::int64_t from, std::int64_t total, const std::string& validator) {
    if (response.Status() != 206) return false;
    if (auto tag = response.Header("ETag"); tag && IsEntityTag(validator) && *tag != validator) return false;
    const auto range = response.Header("Content-Range");
    if (!range || range->rfind("bytes ", 0) != 0) return false;
    const auto dash = range->find('-'), slash = range->find('/');
    if (dash == std::string::npos || slash == std::string::npos || slash < dash) return false;
    const auto first = Number(range->substr(6, dash - 6));
    const auto last = Number(range->substr(dash + 1, slash - dash - 1));
    const auto whole = Number(range->substr(slash + 1));
    if (first != from || last != total - 1 || whole != total) return false;
    const auto length = response.AnnouncedLength();
    return !length || *length == total - from;
}

// Days since 1 January 1970 of the platform's "dd/mm/yyyy[ hh:mm:ss]"; -1 for anything else.
std::int64_t DayNumber(const std::string& text) {
    if (text.size() < 10 || text[2] != '/' || text[5] != '/') return -1;
    const auto d = Number(text.substr(0, 2)), m = Number(text.substr(3, 2)), y = Number(text.substr(6, 4));
    if (!d || !m || !y || *d < 1 || *d > 31 || *m < 1 || *m > 12 || *y < 1970) return -1;
    const std::int64_t year = *y - (*m <= 2 ? 1 : 0);
    const std::int64_t era = year / 400, ofEra = year - era * 400;
    const std::int64_t ofYear = (153 * ((*m + 9) % 12) + 2) / 5 + *d - 1;
    return era * 146097 + ofEra * 365 + ofEra / 4 - ofEra / 100 + ofYear - 719468;
}

// What a cut download keeps beside its bytes, so that a later run can ask for the rest.
struct PartialRecord {
    std::string url, validator;
    std::int64_t total = 0;
    std::string saved;  // LocalDateTimeText when the download began

    std::string Text() const {
        return url + "\r\n" + validator + "\r\n" + std::to_string(total) + "\r\n" + saved + "\r\n";
    }
    static std::optional<PartialRecord> Parse(const std::string& text) {
        std::vector<std::string> lines;
        for (std::size_t at = 0; at < text.size();) {
            const auto end = text.find("\r\n", at);
            if (end == std::string::npos) return std::nullopt;
            lines.push_back(text.substr(at, end - at));
            at = end + 2;
        }
        if (lines.size() != 4 || lines[1].empty()) return std::nullopt;
        const auto total = Number(lines[2]);
        if (!total || *total < 1 || *total > kLargestBody) return std::nullopt;
        return PartialRecord{lines[0], lines[1], *total, lines[3]};
    }
};
}  // namespace

void TForm1::DownloadFile(const std::string& url, const std::string& localPath, std::int64_t limit, bool resumable) {
    int startPosition = 0;
    if (!ProgramStarted) {
        if (f_progress) startPosition = f_progress->Gauge1.Progress();
        AddLogLine("Gauge = " + std::to_string(startPosition));
    }
    auto session = platform_.OpenInternet("QLR");
    if (!session) throw RunError("Unable to initialize Wininet");

    // A resumable download keeps its bytes in <file>.partial, beside a record of what they are.
    const std::string partial = localPath + ".partial", recordPath = partial + ".record";
    const std::string target = resumable ? partial : localPath;
    std::optional<PartialRecord> record;
    std::int64_t kept = 0;
    if (resumable) {
        if (platform_.FileExists(recordPath)) {
            try {
                record = PartialRecord::Parse(ReadSmallFile(platform_, recordPath, kLongestRecord + 1));
            } catch (const RunError&) {
                record.reset();
            }
            if (auto bytes = record ? platform_.OpenForRead(partial) : nullptr) kept = bytes->Size();
            const std::int64_t then = record ? DayNumber(record->saved) : -1;
            const std::int64_t age = then < 0 ? -1 : DayNumber(platform_.LocalDateTimeText()) - then;
            const bool usable = record && record->url == url && kept >= kLeast && kept < record->total && age >= 0 &&
                                age <= kPartialDays;
            if (!usable) {
                record.reset();
                kept = 0;
            }
        }
        if (!record) {
            platform_.RemoveFile(recordPath);
            platform_.RemoveFile(partial);
        }
    }
    std::unique_ptr<HttpResponse> response;
    if (record) {
        AddLogLine("Download resumed at " + std::to_string(kept) + " bytes");
        response = session->OpenRange(url, HttpRange{kept, record->validator});
    } else {
        response = session->OpenUrl(url);
    }
    if (!response) throw RunError("Cannot open URL: " + url);  // the local file stays as it was

    BytesRead = 0;
    std::unique_ptr<FileStream> file;
    std::optional<BufferedWriter> out;
    std::int64_t total = 0;
    std::optional<std::int64_t> announced;
    std::string validator;
    // keep: the bytes so far stay for a later run, when they can be resumed.
    auto fail = [&](bool keep) {
        out.reset();
        file.reset();
        response.reset();
        session.reset();
        // Neither a cut-off body nor what an earlier run or another user left there passes for this download.
        platform_.RemoveFile(localPath);
        if (resumable && !(keep && !validator.empty() && announced && total >= kLeast)) {
            platform_.RemoveFile(recordPath);
            platform_.RemoveFile(partial);
        }
        throw RunError("Download failed: " + url);
    };
    // Starts the body afresh, its record written first so that even a killed run leaves a partial to resume.
    auto begin = [&] {
        out.reset();
        file.reset();
        total = 0;
        announced = response->AnnouncedLength();
        validator = resumable ? Validator(*response) : "";
        if (resumable) {
            platform_.RemoveFile(recordPath);
            if (!validator.empty() && announced) {
                const PartialRecord fresh{url, validator, *announced, platform_.LocalDateTimeText()};
                auto saved = platform_.CreateNewFile(recordPath);
                const std::string text = fresh.Text();
                if (!saved || saved->Write(text.data(), text.size()) != text.size()) fail(false);
            }
        }
        file = platform_.CreateNewFile(target);
        if (!file) fail(false);
        out.emplace(*file);
    };
    // Carries on a partial of an earlier run: its bytes go first into a new file of the same name.
    auto carryOn = [&] {
        announced = record->total;
        validator = record->validator;
        const std::string earlier = partial + ".old";
        if (!platform_.MoveOver(partial, earlier)) fail(false);
        file = platform_.CreateNewFile(partial);
        auto from = platform_.OpenForRead(earlier);
        if (!file || !from) fail(false);
        out.emplace(*file);
        std::vector<char> piece(BufferedWriter::kCapacity);
        for (FileRead read; (read = from->Read(piece.data(), piece.size())).count > 0 || read.failed;) {
            if (read.failed || !out->Write(piece.data(), read.count)) fail(false);
            total += static_cast<std::int64_t>(read.count);
        }
        from.reset();
        platform_.RemoveFile(earlier);
        if (total != kept) fail(false);
    };
    if (resumable) {
        // The file is replaced only at the end, so the old one goes now: a file that cannot go fails at once.
        platform_.RemoveFile(localPath);
        if (platform_.FileExists(localPath)) {
            response.reset();
            session.reset();
            throw RunError("Download failed: " + url);
        }
    }
    if (!record || response->Status() == 200)
        begin();
    else if (IsTheRest(*response, kept, record->total, record->validator))
        carryOn();
    else
        fail(false);

    const RepaintPacer paced(platform_, {&Edit5, &Edit7, &Edit8});
    char buffer[kReadSize];
    for (int resumes = record ? 1 : 0;; ++resumes) {
        if (announced && *announced > kLargestBody) fail(false);
        const std::int64_t tryStart = total;
        bool cut = false;
        for (;;) {
            const HttpRead read = response->Read(buffer, sizeof buffer);
            if (read.failed) {
                cut = true;
                break;
            }
            if (total + static_cast<std::int64_t>(read.count) > kLargestBody) fail(false);
            if (read.count > 0 && !out->Write(buffer, read.count)) fail(false);
            total += static_cast<std::int64_t>(read.count);
            BytesRead = static_cast<std::int32_t>(total);
            const std::int64_t percentage = Percentage(total, ExpectedBytes);
            Edit5.SetText(std::to_string(total));
            Edit5.Repaint();
            Edit7.SetText(std::to_string(ExpectedBytes));
            Edit8.SetText(std::to_string(percentage));
            Edit7.Repaint();
            Edit8.Repaint();
            if (!ProgramStarted) {
                try {
                    if (f_progress) {
                        f_progress->Gauge1.SetProgress(
                            static_cast<int>(std::clamp<std::int64_t>(startPosition + percentage, 0, 100)));
                        f_progress->Gauge1.Repaint();
                    }
                } catch (...) {
                    // The gauge is only a display; the download goes on.
                }
            }
            if (read.count == 0 || total >= limit) break;
        }
        if (announced && total < *announced && total < limit) cut = true;
        if (!out->Flush()) fail(false);
        if (!cut) break;
        // Ask for the rest of the same body, as long as each try brings at least a little.
        if (validator.empty() || !announced || resumes == kMostResumes || total - tryStart < kLeast) fail(true);
        response.reset();
        platform_.Sleep(HttpResumePauseMs() << resumes);
        AddLogLine("Download resumed at " + std::to_string(total) + " bytes");
        response = session->OpenRange(url, HttpRange{total, validator});
        if (!response) fail(true);
        if (response->Status() == 200)
            begin();  // the whole body again, perhaps a newer one
        else if (!IsTheRest(*response, total, *announced, validator))
            fail(false);
    }
    out.reset();
    file.reset();
    if (resumable) {
        if (!platform_.MoveOver(partial, localPath)) fail(false);
        platform_.RemoveFile(recordPath);
    }
}

}  // namespace qlr
