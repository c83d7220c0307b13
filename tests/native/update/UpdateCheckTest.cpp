// The update check inside one process: what it shows, what it asks the
// server for, the obsolete files it removes, and when it downloads.

#include <gtest/gtest.h>

#include "app/main.h"
#include "native/support/ScriptedPlatform.h"
#include "update/UpdateList.h"
#include "update/UpdateServer.h"

namespace qlr::testing {
namespace {

constexpr const char* kProgramFolder = "C:\\Program Files\\Tessaly\\Quillory\\";
const char* const kXFiles[] = {"XTovanel.exe", "XPexil.exe", "XQuenmoral.exe", "XQLR Update.exe"};

class UpdateCheck : public ::testing::Test {
protected:
    void SetUp() override {
        machine.MakeFolders("C:\\Temp\\QLR");
        machine.MakeFolders("C:\\TSLData\\QLR");
        form.Memo3.Clear();
        form.ProgramStarted = true;
        form.ExpectedBytes = 10000000;
        form.ExpectedFiles = 20;
    }
    void Offer(const std::string& list) { http.replies[ListUrl("x", "x")] = {list}; }
    void Serve(const std::string& name, const std::string& bytes) {
        http.replies[base + "updates/" + name + ".pak"] = {bytes};
    }
    std::string ListUrl(const std::string& school, const std::string& smsid) const {
        return UpdateListUrl(base, school, smsid, machine.User());
    }
    std::vector<std::string> Log() const { return CrLfLines(form.Memo3.Text()); }

    SandboxMachine machine;
    ScriptedPlatform http{machine.platform()};
    TForm1 form{http};
    const std::string base = UpdateBaseUrl();
};

TEST_F(UpdateCheck, ShowsTheListAndItsNames) {
    http.replies[ListUrl("A&B School", "id 7")] = {
        "Offer\rQLR6-38.pak 3 MB\nQLR6-39.pak 3 MB\r\nQLR6-37.pak 2 MB\nQLR Update.pak 1 MB"};
    form.HaveVersion = "6-39";
    form.Edit5.SetText("123");
    form.CheckForUpdates("A&B School", "id 7");
    EXPECT_EQ(http.opened, std::vector<std::string>{ListUrl("A&B School", "id 7")});
    EXPECT_EQ(form.Edit6.Text(), base + "index.php");
    EXPECT_EQ(form.Memo1.Text(),
              "Offer\r\nQLR6-38.pak 3 MB\r\nQLR6-39.pak 3 MB\r\nQLR6-37.pak 2 MB\r\nQLR Update.pak 1 MB");
    EXPECT_EQ(form.Memo2.Text(), "QLR6-38\r\nQLR6-39\r\nQLR6-37\r\n");
    EXPECT_EQ(form.Edit2.Text(), "QLR6-39");
    EXPECT_EQ(form.Edit4.Text(), "6-39");
    EXPECT_EQ(form.Edit5.Text(), "");
    EXPECT_EQ(Log(), (std::vector<std::string>{"Accessing cloud", "Have: 6-39   Available from cloud: 6-39",
                                               "Nothing to do"}));
}

TEST_F(UpdateCheck, ListEndsWhereTheBoxStopsShowingIt) {
    const char list[] = "QLR6-38.pak 1\r\nQLR6-39.pak 1\n\0QLR6-40.pak 1\r\n";
    Offer(std::string(list, sizeof list - 1));
    form.HaveVersion = "6-39";
    form.CheckForUpdates("x", "x");
    EXPECT_EQ(form.Memo1.Text(), "QLR6-38.pak 1\r\nQLR6-39.pak 1\r\n");
    EXPECT_EQ(form.Edit2.Text(), "QLR6-39");
    EXPECT_EQ(Log().back(), "Nothing to do");
}

TEST_F(UpdateCheck, OnlyTheFirstMebibyteOfTheListIsRead) {
    // The last line that fits ends exactly at the limit; the next one lies beyond it.
    const std::string last = "QLR6-40.pak x";
    const std::string filler = std::string(kMaxUpdateListBytes - last.size() - 2, '-') + "\r\n";
    Offer("QLR6-39.pak 1\r\n" + filler.substr(15) + last + "\r\nQLR6-41.pak 1\r\n" + std::string(3 << 20, '\n'));
    form.HaveVersion = "6-40";
    form.CheckForUpdates("x", "x");
    EXPECT_EQ(form.Memo2.Text(), "QLR6-39\r\nQLR6-40");
    EXPECT_EQ(form.Edit2.Text(), "QLR6-40");
    EXPECT_EQ(Log().back(), "Nothing to do");
    EXPECT_EQ(form.Memo1.Text().size(), kMaxUpdateListBytes);
    // Nor is the rest fetched: one read at most runs past the limit.
    const auto stored = machine.Read("C:\\Temp\\QLR\\UpdateList.txt").size();
    EXPECT_GE(stored, kMaxUpdateListBytes);
    EXPECT_LT(stored, kMaxUpdateListBytes + 1025);
}

TEST_F(UpdateCheck, RunWhoseTurnDoesNotComeSkipsTheWorkAndSaysWhy) {
    machine.PlaceFoundation();
    Offer("QLR6-39.pak 1 MB\r\n");
    auto otherRun = machine.platform().LockMachine(0);
    ASSERT_TRUE(otherRun);
    http.lockWaitMs = 0;  // in place of the ten minutes a run waits
    form.Memo4.Clear();
    form.Timer1Timer();
    const std::vector<std::string> log = Log();
    ASSERT_GE(log.size(), 6u);
    EXPECT_EQ(std::vector<std::string>(log.end() - 6, log.end()),
              (std::vector<std::string>{"------------- Start Pt 2 --------------",
                                        "Waiting for another run to finish installing and updating",
                                        "Skipped installing and updating: the other run is still at it", "",
                                        "----------------- End ----------------------", ""}));
    EXPECT_TRUE(http.opened.empty());
}

TEST_F(UpdateCheck, DownloadsOnlyWhenTheOfferIsGreater) {
    struct Case {
        const char* have;
        const char* offered;
        bool update;
    };
    const Case cases[] = {
        {"6-38", "QLR6-39", true},  {"", "QLR6-39", true},      {"6-39", "QLR6-9", true},
        {"6-39", "QLR6-39", false}, {"6-40", "QLR6-39", false}, {"6-38", "QLR10-1", false},
    };
    for (const Case& c : cases) {
        form.Memo3.Clear();
        http.replies.clear();
        std::error_code ignored;
        std::filesystem::remove(machine.Host(std::string("C:\\Temp\\QLR\\") + c.offered + ".pak"), ignored);
        Offer(std::string(c.offered) + ".pak 1 MB\r\n");
        Serve(c.offered, Padded(PackageBytes({{std::string("C:\\TSLData\\QLR\\") + c.offered + ".exe", "new"}})));
        form.HaveVersion = c.have;
        form.CheckForUpdates("x", "x");
        EXPECT_EQ(Log().back(), c.update ? "... OK" : "Nothing to do") << c.have << " " << c.offered;
        EXPECT_EQ(machine.Exists(std::string("C:\\Temp\\QLR\\") + c.offered + ".pak"), c.update) << c.offered;
    }
}

TEST_F(UpdateCheck, MarkerDecidesWhetherObsoleteFilesGo) {
    for (bool marker : {false, true}) {
        for (const char* name : kXFiles) machine.Write(std::string(kProgramFolder) + name, "old");
        machine.Write(std::string(kProgramFolder) + "Tovanel.exe", "bootstrap");
        if (marker) machine.Write(std::string(kProgramFolder) + "TovanelX.exe", "marker");
        form.Memo3.Clear();
        Offer("QLR6-39.pak 1 MB\r\n");
        Serve("QLR6-39", Padded(PackageBytes({{"C:\\TSLData\\QLR\\QLR6-39.exe", "new"}})));
        form.HaveVersion = "6-38";
        form.CheckForUpdates("x", "x");
        const std::vector<std::string> log = Log();
        EXPECT_EQ(log[2] == "Removing X files", marker);
        for (const char* name : kXFiles) EXPECT_EQ(machine.Exists(std::string(kProgramFolder) + name), !marker);
        EXPECT_TRUE(machine.Exists(std::string(kProgramFolder) + "Tovanel.exe"));
        EXPECT_EQ(machine.Exists(std::string(kProgramFolder) + "TovanelX.exe"), marker);  // never removed
        EXPECT_EQ(log.back(), "... OK");
    }
}

TEST_F(UpdateCheck, PackageThatCannotBeFetchedEndsTheCheckWithoutAVerdict) {
    Offer("QLR6-39.pak 1 MB\r\n");
    form.HaveVersion = "6-38";
    try {
        form.CheckForUpdates("x", "x");
        FAIL() << "no exception";
    } catch (const RunError& error) {
        EXPECT_EQ(error.what(), "Cannot open URL: " + base + "updates/QLR6-39.pak");
    }
    EXPECT_EQ(Log().back(), "Downloading program " + base + "updates/QLR6-39.pak to C:\\Temp\\QLR\\QLR6-39.pak");
}

TEST_F(UpdateCheck, ListThatCannotBeStoredIsAFailedDownload) {
    // Not quietly, and never the list an earlier run left behind.
    machine.Write("C:\\Temp\\QLR\\UpdateList.txt", "");
    std::filesystem::remove(machine.Host("C:\\Temp\\QLR\\UpdateList.txt"));
    std::filesystem::create_directories(machine.Host("C:\\Temp\\QLR") / "UpdateList.txt");
    Offer("QLR6-39.pak 1 MB\r\n");
    try {
        form.CheckForUpdates("x", "x");
        FAIL() << "no exception";
    } catch (const RunError& error) {
        EXPECT_EQ(error.what(), "Download failed: " + ListUrl("x", "x"));
    }
}

}  // namespace
}  // namespace qlr::testing
