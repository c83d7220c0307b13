// The real Tovanel.exe on a fresh Windows machine: a setup copy installs the
// foundation and the newest version, makes the shell's own links and starts
// the application; the desktop link's target then hands over to the startup
// copy.

#include <algorithm>
#include <regex>

#include "common/ExpectedLog.h"
#include "common/LinkReader.h"
#include "common/PackageBytes.h"
#include "windows/support/TestHttpServer.h"
#include "windows/support/WineMachine.h"

namespace qlr::testing {
namespace {

constexpr const char* kSetupFolder = "C:\\Downloads\\SETUP";
const std::string kSetupCopy = std::string(kSetupFolder) + "\\Tovanel.exe";
constexpr const char* kProgramFilesTarget = "c:\\Program Files\\Tessaly\\Quillory\\Tovanel.exe";
constexpr const char* kInstaller = "c:\\temp\\QLR\\Firebird\\Firebird-2.1.1.17910-0_Win32.exe";
constexpr const char* kInstallerArguments =
    " /SILENT /VERYSILENT /SP- /SUPPRESSMSGBOXES /LOG=\"c:\\temp\\qlr\\FBInstallLog.txt\" /NOCANCEL /NOICONS "
    "  "
    "/COMPONENTS=\"ServerComponent\\SuperServerComponent,ServerComponent,ClientComponent\" /NOCPL    ";
// The system folder as the program under test sees it: a 32-bit program on
// 64-bit Windows is shown SysWOW64 under this name; here each build runs in a
// prefix of its own kind, where the name means the same folder to the test.
constexpr const char* kClientLibrary = "C:\\windows\\system32\\GDS32.dll";
constexpr const char* kWineOverrides = "Software\\Wine\\DllOverrides";
constexpr const char* kShellFolders = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

class FreshWindowsMachine : public WineMachine {
protected:
    void SetUp() override {
        WineMachine::SetUp();
        RemoveTree(kSetupFolder);
        PlaceTovanel(kSetupCopy);
        // The system's net.exe is played by a stand-in for the test; the one planted beside the setup copy,
        // where a search for "net" looks first, must never start.
        systemNet = ReadBytes(SystemNet());
        PlaceStandin(SystemNet());
        // Wine would start its own built-in net.exe whatever the file holds.
        ::RegSetKeyValueA(HKEY_CURRENT_USER, kWineOverrides, "net.exe", REG_SZ, "native", 7);
        PlaceStandin(std::string(kSetupFolder) + "\\net.exe");
        WriteBytes(kClientLibrary, "old client library");
        const std::string tovanel = *ReadBytes(BuildFolder() + "\\Tovanel.exe");
        const std::string standin = *ReadBytes(BuildFolder() + "\\standin.exe");
        foundation = FoundationPackageBytes(tovanel, standin);
        update = PackageBytes({{"C:\\TSLData\\QLR\\QLR6-39.exe", standin}});
        list = "Foundation.pak " + std::to_string(foundation.size()) + "\r\nQLR6-39.pak " +
               std::to_string(update.size()) + "\r\n";
    }
    void TearDown() override {
        WineMachine::TearDown();
        RemoveTree(kSetupFolder);
        RemoveTree(kClientLibrary);
        if (systemNet) WriteBytes(SystemNet(), *systemNet);
        ::RegDeleteKeyValueA(HKEY_CURRENT_USER, kWineOverrides, "net.exe");
    }
    static std::string SystemNet() {
        char folder[MAX_PATH] = {};
        GetSystemDirectoryA(folder, sizeof folder);
        return std::string(folder) + "\\net.exe";
    }
    static std::string Folder(const char* value) { return RegistryText(HKEY_CURRENT_USER, kShellFolders, value); }

    std::string foundation, update, list;
    std::optional<std::string> systemNet;
};

TEST_F(FreshWindowsMachine, SetupCopyInstallsTheSuiteAndTheShellLinksPointAtTheProgramFolderCopy) {
    TestHttpServer server(
        {{"/updates/Foundation.pak", foundation}, {"/updates/QLR6-39.pak", update}, {"/index.php", list}});
    ScopedEnvironment base("QLR_UPDATE_BASE_URL", server.BaseUrl().c_str());

    ASSERT_EQ(RunProgram(kSetupCopy), 0u);
    auto runs = WaitForRuns(5);
    const auto log = ReadBytes("C:\\Temp\\QLR\\InstallLog Setup.txt");
    ASSERT_TRUE(log);
    const auto lines = CrLfLines(*log);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(kVersionLinePattern))) << lines[0];

    const std::string desktopLink = Folder("Desktop") + "\\Tovanel.lnk";
    const std::string startLink = Folder("Start Menu") + "\\Tovanel.lnk";
    const auto expected =
        FreshInstallLog({kSetupCopy, server.BaseUrl(), UserName(), Folder("Desktop"), Folder("Start Menu"),
                         static_cast<std::int64_t>(foundation.size()), static_cast<std::int64_t>(list.size()),
                         static_cast<std::int64_t>(update.size())});
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end()), expected) << *log;

    EXPECT_FALSE(
        RegistryText(HKEY_LOCAL_MACHINE, "Software\\Firebird Project\\Firebird Server\\Instances", "DefaultInstance")
            .empty());
    EXPECT_EQ(ReadBytes("C:\\SchoolData\\mydata.ib"), "blank school database");
    EXPECT_FALSE(PathExists(kClientLibrary));
    for (const std::string& link : {desktopLink, startLink}) {
        const auto bytes = ReadBytes(link);
        ASSERT_TRUE(bytes) << link;
        const auto target = LinkLocalPath(*bytes);
        ASSERT_TRUE(target) << link;
        EXPECT_EQ(CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, target->c_str(), -1, kProgramFilesTarget, -1),
                  CSTR_EQUAL)
            << *target;
    }

    ASSERT_EQ(runs.size(), 5u);
    const std::string setup = kSetupFolder;
    std::vector<StandinRun> firebird = {
        {SystemNet(), "net stop \"InterBase Guardian\" >NULL", setup},
        {SystemNet(), "net stop \"InterBase Server\" >NULL", setup},
        {"C:\\Temp\\QLR\\Firebird\\Firebird-2.1.1.17910-0_Win32.exe", kInstaller + std::string(kInstallerArguments),
         setup},
    };
    // A program's own path keeps the case the command line gave it.
    std::vector<StandinRun> firebirdRuns(runs.begin(), runs.begin() + 3);
    for (auto* list : {&firebirdRuns, &firebird})
        for (auto& run : *list) CharUpperA(run.program.data());
    EXPECT_EQ(firebirdRuns, firebird);
    std::vector<StandinRun> started(runs.begin() + 3, runs.end());
    std::sort(started.begin(), started.end());  // neither is waited for
    EXPECT_EQ(started, (std::vector<StandinRun>{
                           {"C:\\TSLData\\QLR\\QLR6-39.exe", "C:\\TSLData\\QLR\\QLR6-39.exe QLR", "C:\\TSLData\\QLR"},
                           {"C:\\TSLData\\QLR\\Shifter.exe", "C:\\TSLData\\QLR\\Shifter.exe", "C:\\TSLData\\QLR"},
                       }));
}

TEST_F(FreshWindowsMachine, DesktopLinkTargetHandsOverAndTheStartupCopyFindsItsLinks) {
    TestHttpServer server(
        {{"/updates/Foundation.pak", foundation}, {"/updates/QLR6-39.pak", update}, {"/index.php", list}});
    ScopedEnvironment base("QLR_UPDATE_BASE_URL", server.BaseUrl().c_str());
    ASSERT_EQ(RunProgram(kSetupCopy), 0u);
    ASSERT_EQ(WaitForRuns(5).size(), 5u);
    ASSERT_TRUE(WaitForAllEnded());

    const auto bytes = ReadBytes(Folder("Desktop") + "\\Tovanel.lnk");
    ASSERT_TRUE(bytes);
    const auto target = LinkLocalPath(*bytes);
    ASSERT_TRUE(target);
    ASSERT_EQ(RunProgram(*target), 0u);
    const auto runs = WaitForRuns(8);
    ASSERT_TRUE(WaitForAllEnded());
    ASSERT_EQ(runs.size(), 8u);

    const auto startup = ReadBytes("C:\\Temp\\QLR\\InstallLog Startup.txt");
    ASSERT_TRUE(startup);
    for (const std::string& part : std::vector<std::string>{
             "\r\nFoundation loaded.  Starting Existing Program\r\n",
             "\r\nFoundation already loaded\r\n",
             "\r\nHave: 6-39   Available from cloud: 6-39\r\nNothing to do\r\n",
             "\r\nShortcut for " + Folder("Desktop") +
                 "\\Tovanel.lnk already existed\r\nCreated Shortcut in Desktop\r\n",
             "\r\nShortcut for " + Folder("Start Menu") + "\\Tovanel.lnk already existed\r\n",
         })
        EXPECT_NE(startup->find(part), std::string::npos) << part << "\n" << *startup;
    std::vector<StandinRun> later(runs.begin() + 5, runs.end());
    EXPECT_EQ(std::count(later.begin(), later.end(),
                         StandinRun{"C:\\TSLData\\QLR\\QLR6-39.exe", "C:\\TSLData\\QLR\\QLR6-39.exe QLR",
                                    "C:\\TSLData\\QLR"}),
              1);
}

// A build that holds the test release key installs only a foundation signed as "Foundation".
TEST_F(FreshWindowsMachine, KeyedSetupCopyInstallsASignedFoundationAndRefusesAnUnsignedOne) {
    const std::string keyed = *ReadBytes(BuildFolder() + "\\Tovanel-testkey.exe");
    const std::string standin = *ReadBytes(BuildFolder() + "\\standin.exe");
    const std::string keyedFoundation = FoundationPackageBytes(keyed, standin);
    for (const bool sign : {true, false}) {
        SCOPED_TRACE(sign ? "signed" : "unsigned");
        ResetMachine();
        PlaceTovanel(kSetupCopy, "Tovanel-testkey.exe");
        TestHttpServer server(
            {{"/updates/Foundation.pak", sign ? SignedPackage(keyedFoundation, "Foundation") : keyedFoundation},
             {"/updates/QLR6-39.pak", SignedPackage(update, "QLR6-39")},
             {"/index.php", list}});
        ScopedEnvironment base("QLR_UPDATE_BASE_URL", server.BaseUrl().c_str());
        ASSERT_EQ(RunProgram(kSetupCopy), 0u);
        ASSERT_TRUE(WaitForAllEnded());
        const std::string log = ReadBytes("C:\\Temp\\QLR\\InstallLog Setup.txt").value_or("<no log>");
        EXPECT_EQ(log.find("\r\nProgram Loaded, decompressing file\r\nPackage refused: Foundation.pak (not signed)"
                           "... FAILED 8\r\n") != std::string::npos,
                  !sign)
            << log;
        EXPECT_EQ(log.find("\r\nLoading blank database...OK\r\n") != std::string::npos, sign) << log;
        EXPECT_EQ(log.find("\r\nFile 1: C:\\TSLData\\QLR\\QLR6-39.exe... OK\r\n") != std::string::npos, sign) << log;
        EXPECT_EQ(ReadBytes("C:\\TSLData\\QLR\\Tovanel.exe") == keyed, sign);
        EXPECT_EQ(PathExists("C:\\Temp\\QLR\\Foundation.pak"), sign);
    }
}

}  // namespace
}  // namespace qlr::testing
