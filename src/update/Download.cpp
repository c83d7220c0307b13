#include <algorithm>
#include <limits>

#include "app/main.h"
#include "base/Text.h"
#include "update/BufferedWriter.h"

namespace qlr {

namespace {
constexpr std::size_t kReadSize = 1025;
// BytesRead is a signed 32-bit count: a longer reply is not a download this program can hold.
constexpr std::int64_t kLargestBody = std::numeric_limits<std::int32_t>::max();
}  // namespace

void TForm1::DownloadFile(const std::string& url, const std::string& localPath, std::int64_t limit) {
    int startPosition = 0;
    if (!ProgramStarted) {
        if (f_progress) startPosition = f_progress->Gauge1.Progress();
        AddLogLine("Gauge = " + std::to_string(startPosition));
    }
    auto session = platform_.OpenInternet("QLR");
    if (!session) throw RunError("Unable to initialize Wininet");
    auto response = session->OpenUrl(url);
    if (!response) throw RunError("Cannot open URL: " + url);  // the local file stays as it was

    BytesRead = 0;
    auto file = platform_.CreateNewFile(localPath);
    if (!file) {
        // Whatever an earlier run or another user left there is not this download.
        response.reset();
        session.reset();
        platform_.RemoveFile(localPath);
        throw RunError("Download failed: " + url);
    }
    BufferedWriter out(*file);

    const RepaintPacer paced(platform_, {&Edit5, &Edit7, &Edit8});
    std::int64_t total = 0;
    const auto announced = response->AnnouncedLength();
    bool failed = announced && *announced > kLargestBody;
    char buffer[kReadSize];
    while (!failed) {
        const HttpRead read = response->Read(buffer, sizeof buffer);
        if (read.failed || total + static_cast<std::int64_t>(read.count) > kLargestBody) {
            failed = true;
            break;
        }
        if (read.count > 0 && !out.Write(buffer, read.count)) {
            failed = true;
            break;
        }
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
    if (announced && total < *announced && total < limit) failed = true;
    if (!out.Flush()) failed = true;
    file.reset();
    response.reset();
    session.reset();
    if (failed) {
        // A cut-off body must not pass for the whole file.
        platform_.RemoveFile(localPath);
        throw RunError("Download failed: " + url);
    }
}

}  // namespace qlr
