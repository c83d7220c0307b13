// Whole runs of the real Tovanel.exe against the qlr-server that
// scripts/with-server.sh started for this test run (QLR_SERVER_ROOT names
// its folder, QLR_UPDATE_BASE_URL its address); and WinInet against it.

#include <algorithm>
#include <cstdlib>
#include <thread>

#include "TestHttpServer.h"
#include "WineMachine.h"
#include "install_Package.h"
#include "update_LogSection.h"
#include "platform/win32/ProgressWindowWin32.h"
#include "platform/win32/Win32Platform.h"
#include "platform/win32/WinInetHttp.h"

namespace qlr::testing {
namespace {

const std::string kStartup = std::string(WineMachine::kDataFolder) + "\\Tovanel.exe";
const std::string kNewProgram = std::string(WineMachine::kDataFolder) + "\\QLR6-39.exe";
const std::string kStartupLog = "C:\\Temp\\QLR\\InstallLog Startup.txt";

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::vector<std::string> CheckSection(const std::string& log) { return UpdateCheckSection(CrLfLines(log)); }

class UpdateRun : public WineMachine {
protected:
    void SetUp() override {
        WineMachine::SetUp();
        base = Environment("QLR_UPDATE_BASE_URL");
        const std::string root = Environment("QLR_SERVER_ROOT");
        ASSERT_FALSE(base.empty() || root.empty()) << "run these tests under scripts/with-server.sh";
        // Wine shows the Unix root as drive Z:.
        updates = "Z:" + root + "/updates";
        for (char& c : updates)
            if (c == '/') c = '\\';
        RemoveTree(updates);
        MakeFolders(updates);
        PlaceTovanel(kStartup);
        PlaceStandin(std::string(kDataFolder) + "\\QLR6-38.exe");
        PlaceStandin(std::string(kDataFolder) + "\\Shifter.exe");
        WriteBytes("C:\\SchoolData\\mydata.ib", "");
        Publish("QLR6-38.pak", Padded(PackageBytes({{std::string(kDataFolder) + "\\QLR6-38.exe", "6-38"}})));
    }
    void Publish(const std::string& name, const std::string& bytes) {
        WriteBytes(updates + "\\" + name, bytes);
    }

    std::string RunStartup() {
        EXPECT_EQ(RunProgram(kStartup), 0u);
        EXPECT_TRUE(WaitForAllEnded());
        return ReadBytes(kStartupLog).value_or("<no log>");
    }
    std::string Downloading(const std::string& name) const {
        return "Downloading program " + base + "updates/" + name + ".pak to C:\\Temp\\QLR\\" + name + ".pak";
    }

    std::string base, updates;
    ScopedEnvironment noProxy{"http_proxy", nullptr};
};

TEST_F(UpdateRun, NewerPackageIsDownloadedAndUnpacked) {
    const std::string program = ReadBytes(BuildFolder() + "\\standin.exe").value();
    Publish("QLR6-39.pak", PackageBytes({{kNewProgram, program}}));
    const std::string log = RunStartup();
    EXPECT_EQ(CheckSection(log),
              (std::vector<std::string>{"Accessing cloud", "Have: 6-38   Available from cloud: 6-39",
                                        Downloading("QLR6-39"), "Program Loaded, decompressing files",
                                        "Decoding 1 files", "File 1: " + kNewProgram, "... OK"}))
        << log;
    EXPECT_EQ(ReadBytes(kNewProgram), program);
}

TEST_F(UpdateRun, NothingNewerMeansNothingToDo) {
    const std::string log = RunStartup();
    EXPECT_EQ(CheckSection(log),
              (std::vector<std::string>{"Accessing cloud", "Have: 6-38   Available from cloud: 6-38",
                                        "Nothing to do"}))
        << log;
}

TEST_F(UpdateRun, ErrorPageInPlaceOfTheListOffersNothing) {
    ScopedEnvironment gone("QLR_UPDATE_BASE_URL", (base + "gone/").c_str());
    const std::string log = RunStartup();
    EXPECT_EQ(
        CheckSection(log),
        (std::vector<std::string>{"Accessing cloud", "Have: 6-38   Available from cloud: ", "Nothing to do"}))
        << log;
    EXPECT_NE(ReadBytes("C:\\Temp\\QLR\\UpdateList.txt").value_or("").find("Not Found"), std::string::npos);
}

TEST_F(UpdateRun, UnreachableServerEndsTheLogWithTheAddress) {
    ScopedEnvironment nowhere("QLR_UPDATE_BASE_URL", "http://127.0.0.1:9/");
    const std::string log = RunStartup();
    EXPECT_EQ(CheckSection(log),
              (std::vector<std::string>{"Accessing cloud", "Unexpected Exception encountered ...FAILED (2)"}))
        << log;
    const std::string tail =
        "Cannot open URL: http://127.0.0.1:9/index.php?School=x&SMSID=x&USER=" + UserName();
    ASSERT_GE(log.size(), tail.size());
    EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
}

TEST_F(UpdateRun, ServerTextInPlaceOfThePackageEndsTheLog) {
    Publish("QLR6-39.pak", "Package withdrawn, try again later");
    const std::string log = RunStartup();
    EXPECT_EQ(CheckSection(log),
              (std::vector<std::string>{"Accessing cloud", "Have: 6-38   Available from cloud: 6-39",
                                        Downloading("QLR6-39"), "Program Loaded, decompressing files",
                                        "... FAILED (Failed to unpack QLR6-39)"}))
        << log;
    const std::string tail =
        "----------------- End ----------------------\r\n\r\nPackage withdrawn, try again later";
    ASSERT_GE(log.size(), tail.size());
    EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
}

TEST_F(UpdateRun, PackageWithoutTheProgramFails) {
    Publish("QLR6-39.pak", Padded(PackageBytes({{std::string(kDataFolder) + "\\readme.txt", "no program"}})));
    const std::string log = RunStartup();
    EXPECT_EQ(CheckSection(log),
              (std::vector<std::string>{"Accessing cloud", "Have: 6-38   Available from cloud: 6-39",
                                        Downloading("QLR6-39"), "Program Loaded, decompressing files",
                                        "Decoding 1 files", "File 1: C:\\TSLData\\QLR\\readme.txt",
                                        "... FAILED (Failed to unpack QLR6-39)"}))
        << log;
    EXPECT_FALSE(PathExists(kNewProgram));
}

TEST_F(UpdateRun, RunningProgramIsReplacedByTheUpdate) {
    const std::string replacement = ReadBytes(BuildFolder() + "\\standin.exe").value();
    Publish("QLR6-39.pak", PackageBytes({{kStartup, replacement}, {kNewProgram, replacement}}));
    const std::string log = RunStartup();
    EXPECT_EQ(CheckSection(log).back(), "... OK") << log;
    EXPECT_EQ(ReadBytes(kStartup), replacement);  // the copy that ran this update
    EXPECT_EQ(ReadBytes(kNewProgram), replacement);
}

TEST_F(UpdateRun, ListNamesThatLeadOutOfTheFolderAreSkipped) {
    TestHttpServer hostile(std::map<std::string, std::string>{
        {"/index.php", "QLR6-38.pak 501\r\nQLR\\..\\..\\..\\Windows\\evil.pak 501\r\n"
                       "QLR/../../../Windows/evil.pak 501\r\nQLR6-99:evil.pak 501\r\n"}});
    ScopedEnvironment url("QLR_UPDATE_BASE_URL", hostile.BaseUrl().c_str());
    const std::string log = RunStartup();
    EXPECT_EQ(CheckSection(log),
              (std::vector<std::string>{"Accessing cloud", "Have: 6-38   Available from cloud: 6-38",
                                        "Nothing to do"}))
        << log;
    EXPECT_EQ(hostile.Requests().size(), 1u);
    EXPECT_FALSE(PathExists("C:\\windows\\evil.pak"));
}

TEST_F(UpdateRun, SecondRunWaitsForTheFirstToFinishAndThenDoesItsOwnPass) {
    // Nothing installed to start early: the run shows its progress window before it waits for its turn.
    RemoveTree(std::string(kDataFolder) + "\\QLR6-38.exe");
    auto platform = win32::CreateWin32Platform();
    auto firstRun = platform->LockMachine(0);
    ASSERT_TRUE(firstRun);
    std::optional<DWORD> exitCode;
    std::thread second([&] { exitCode = RunProgram(kStartup); });
    bool shown = false;
    for (const ULONGLONG end = ::GetTickCount64() + 30000; !shown && ::GetTickCount64() < end; ::Sleep(50))
        shown = ::FindWindowA(win32::kProgressFormClass, nullptr) != nullptr;
    ::Sleep(500);
    const bool savedMeanwhile = PathExists(kStartupLog);
    firstRun.reset();
    second.join();
    ASSERT_TRUE(shown) << "the second run never showed its progress window";
    EXPECT_FALSE(savedMeanwhile) << "the second run did its pass while the first held the machine";
    EXPECT_EQ(exitCode, 0u);
    const std::string log = ReadBytes(kStartupLog).value_or("<no log>");
    const std::vector<std::string> lines = CrLfLines(log);
    const auto start = std::find(lines.begin(), lines.end(), "------------- Start Pt 2 --------------");
    ASSERT_GE(std::distance(start, lines.end()), 3) << log;
    EXPECT_EQ(std::vector<std::string>(start + 1, start + 3),
              (std::vector<std::string>{"Waiting for another run to finish installing and updating",
                                        "Foundation already loaded"}));
    EXPECT_EQ(CheckSection(log).back(), "... OK") << log;
}

// ---- WinInet itself -----------------------------------------------------------

TEST_F(UpdateRun, WinInetDeliversTheBodyInPiecesWhateverTheStatus) {
    const std::string package = NoiseBytes(200000, 77);
    Publish("QLR6-40.pak", package);
    auto session = win32::OpenWinInetSession("QLR");
    ASSERT_TRUE(session);
    struct Case {
        std::string url;
        std::string body;  // empty: only "Not Found" must be in it
    };
    for (const Case& c : {Case{base + "updates/QLR6-40.pak", package}, Case{base + "updates/none.pak", ""}}) {
        auto response = session->OpenUrl(c.url);
        ASSERT_TRUE(response) << c.url;
        std::string body;
        char buffer[1025];
        for (;;) {
            HttpRead read = response->Read(buffer, sizeof buffer);
            ASSERT_FALSE(read.failed);
            ASSERT_LE(read.count, sizeof buffer);
            if (read.count == 0) break;
            body.append(buffer, read.count);
        }
        EXPECT_EQ(response->AnnouncedLength(), static_cast<std::int64_t>(body.size())) << c.url;
        if (c.body.empty())
            EXPECT_NE(body.find("Not Found"), std::string::npos) << body;
        else
            EXPECT_EQ(body, c.body);
    }
    EXPECT_EQ(session->OpenUrl("http://127.0.0.1:9/index.php"), nullptr);
}

}  // namespace
}  // namespace qlr::testing
