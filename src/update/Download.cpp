#include <algorithm>
#include <limits>

#include "app/Text.h"
#include "app/main.h"

namespace qlr {

namespace {
constexpr std::size_t kReadSize = 1025;
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
    if (!file) return;

    std::int64_t total = 0;
    bool failed = false;
    char buffer[kReadSize];
    for (;;) {
        const HttpRead read = response->Read(buffer, sizeof buffer);
        if (read.failed) {
            failed = true;
            break;
        }
        if (read.count > 0 && file->Write(buffer, read.count) != read.count) {
            failed = true;
            break;
        }
        total += static_cast<std::int64_t>(read.count);
        BytesRead = static_cast<std::int32_t>(
            std::min<std::int64_t>(total, std::numeric_limits<std::int32_t>::max()));
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
    const auto announced = response->AnnouncedLength();
    if (announced && total < *announced && total < limit) failed = true;
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
