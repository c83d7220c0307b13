#include "app/main.h"
#include "base/SmallFile.h"
#include "base/Text.h"
#include "update/UpdateList.h"
#include "update/UpdateServer.h"

namespace qlr {

namespace {

constexpr const char* kListFile = "c:\\Temp\\QLR\\UpdateList.txt";

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) text += "\r\n";
        text += lines[i];
    }
    return text;
}

void RemoveObsoleteFiles(TForm1& form) {
    const std::string folder = std::string(paths::ProgramFolder) + "\\";
    if (!form.platform().FileExists(folder + "TovanelX.exe")) return;
    form.AddLogLine("Removing X files");
    for (const char* name : {"XTovanel.exe", "XPexil.exe", "XQuenmoral.exe", "XQLR Update.exe"})
        form.platform().RemoveFile(folder + name);
}

}  // namespace

void TForm1::CheckForUpdates(const std::string& schoolName, const std::string& smsid) {
    AddLogLine("Accessing cloud");
    const std::string base = UpdateBaseUrl();
    Edit6.SetText(base + "index.php");
    // Only the head of the list is read: the rest is not worth fetching.
    DownloadFile(UpdateListUrl(base, schoolName, smsid, CurrentUserName()), kListFile, kMaxUpdateListBytes, false);

    Memo1.SetText(NormalizeLineBreaks(ReadSmallFile(platform_, kListFile, kMaxUpdateListBytes)));
    // The lines examined are the ones the box shows: a zero byte ends its text.
    const UpdateOffer offer = ReadUpdateList(Memo1.Text());
    Memo2.SetText(JoinLines(offer.names));
    Edit2.SetText(offer.best);
    Edit4.SetText(offer.version);
    Edit5.Clear();
    AddLogLine("Have: " + HaveVersion + "   Available from cloud: " + offer.version);
    if (!OrdinalGreater(offer.version, HaveVersion)) {
        AddLogLine("Nothing to do");
        return;
    }

    RemoveObsoleteFiles(*this);
    const std::string url = base + "updates/" + offer.best + ".pak";
    const std::string package = "C:\\Temp\\QLR\\" + offer.best + ".pak";
    AddLogLine("Downloading program " + url + " to " + package);
    DownloadFile(url, package);
    AddLogLine("Program Loaded, decompressing files");
    UnpackPackage(package);
    if (platform_.FileExists(std::string(paths::DataFolder) + "\\" + offer.best + ".exe"))
        AppendLogText("... OK");
    else
        AppendLogText("... FAILED (Failed to unpack " + offer.best + ")");
}

}  // namespace qlr
