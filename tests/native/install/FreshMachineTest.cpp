// The whole story on a fresh sandbox machine: a setup copy installs the
// foundation and the newest version and starts it; the desktop link's
// target hands over to the startup copy, which starts the newest version.

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "common/ExpectedLog.h"
#include "native/support/LnkInfo.h"
#include "native/support/PackageServer.h"
#include "native/support/ScriptedPlatform.h"

namespace qlr::testing {
namespace {

constexpr const char* kSetupCopy = "C:\\Downloads\\SETUP\\Tovanel.exe";
constexpr const char* kStartupCopy = "C:\\TSLData\\QLR\\Tovanel.exe";
constexpr const char* kProgramFilesCopy = "c:\\Program Files\\Tessaly\\Quillory\\Tovanel.exe";
constexpr const char* kInstancesKey = "Software\\Firebird Project\\Firebird Server\\Instances";
constexpr const char* kInstaller = "c:\\temp\\QLR\\Firebird\\Firebird-2.1.1.17910-0_Win32.exe";
constexpr const char* kInstallerArguments =
    " /SILENT /VERYSILENT /SP- /SUPPRESSMSGBOXES /LOG=\"c:\\temp\\qlr\\FBInstallLog.txt\" /NOCANCEL /NOICONS "
    "  "
    "/COMPONENTS=\"ServerComponent\\SuperServerComponent,ServerComponent,ClientComponent\" /NOCPL    ";

// The packages the maker publishes, made once: the real program in both places, stand-ins for the rest.
struct Published {
    std::string foundation, update;
    Published() {
        const std::string tovanel = FileBytes(BuiltProgram("tovanel"));
        const std::string standin = FileBytes(BuiltProgram("standin"));
        foundation = FoundationPackageBytes(tovanel, standin);
        update = PackageBytes({{"C:\\TSLData\\QLR\\QLR6-39.exe", standin}});
    }
};
const Published& Packages() {
    static const Published packages;
    return packages;
}

class FreshMachine : public ::testing::Test {
protected:
    void SetUp() override {
        machine.PlaceTovanel(kSetupCopy);
        machine.PlaceStandin("C:\\windows\\system32\\net.exe");
        // Planted beside the setup copy, where a search for "net" would look first: never started.
        machine.PlaceStandin("C:\\Downloads\\SETUP\\net.exe");
        machine.Write("C:\\windows\\system32\\GDS32.dll", "old client library");
        server.Put("Foundation.pak", Packages().foundation);
        server.Put("QLR6-39.pak", Packages().update);
    }
    std::string Folder(const char* value) {
        auto key =
            machine.platform().OpenRegistryKey(RegistryRoot::CurrentUser,
                                               "Software\\MicroSoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                                               false);
        return key ? key->ReadValue(value).text : std::string();
    }
    SandboxMachine machine;
    PackageServer server;
};

TEST_F(FreshMachine, SetupCopyInstallsEverythingAndStartsTheNewestVersion) {
    const auto result = machine.Run(kSetupCopy, {server.Environment()});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    const std::string log = machine.Log("Setup");
    const auto lines = CrLfLines(log);

    const std::string desktopLink = Folder("Desktop") + "\\Tovanel.lnk";
    const std::string startLink = Folder("Start Menu") + "\\Tovanel.lnk";
    const auto expected = FreshInstallLog({kSetupCopy, server.BaseUrl(), machine.User(), Folder("Desktop"),
                                           Folder("Start Menu"), std::int64_t(Packages().foundation.size()),
                                           std::int64_t(machine.Read("C:\\Temp\\QLR\\UpdateList.txt").size()),
                                           std::int64_t(Packages().update.size())});
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(kVersionLinePattern))) << lines[0];
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end()), expected) << log;
    EXPECT_TRUE(log.ends_with("----------------- End ----------------------\r\n\r\n"));

    // What the machine holds afterwards.
    auto key = machine.platform().OpenRegistryKey(RegistryRoot::LocalMachine, kInstancesKey, false);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->ReadValue("DefaultInstance").kind, RegistryValue::Kind::String);
    EXPECT_FALSE(key->ReadValue("DefaultInstance").text.empty());
    EXPECT_EQ(machine.Read("C:\\SchoolData\\mydata.ib"), "blank school database");
    EXPECT_FALSE(machine.Exists("C:\\windows\\system32\\GDS32.dll"));
    EXPECT_EQ(LnkInfoLocalPath(machine.Host(desktopLink)), kProgramFilesCopy);
    EXPECT_EQ(LnkInfoLocalPath(machine.Host(startLink)), kProgramFilesCopy);

    // Programs started: own path | command line | current folder.
    auto runs = machine.StandinRuns(5);
    std::vector<std::string> expectedRuns = {
        "C:\\windows\\system32\\net.exe | net stop \"InterBase Guardian\" >NULL | C:\\",
        "C:\\windows\\system32\\net.exe | net stop \"InterBase Server\" >NULL | C:\\",
        "C:\\Temp\\QLR\\Firebird\\Firebird-2.1.1.17910-0_Win32.exe | " + std::string(kInstaller) + kInstallerArguments +
            " | C:\\",
        "C:\\TSLData\\QLR\\QLR6-39.exe | C:\\TSLData\\QLR\\QLR6-39.exe QLR | C:\\TSLData\\QLR",
        "C:\\TSLData\\QLR\\Shifter.exe | C:\\TSLData\\QLR\\Shifter.exe | C:\\TSLData\\QLR",
    };
    // The last two are started without waiting: either may record first.
    ASSERT_EQ(runs.size(), expectedRuns.size());
    std::sort(runs.begin() + 3, runs.end());
    std::sort(expectedRuns.begin() + 3, expectedRuns.end());
    EXPECT_EQ(runs, expectedRuns);
}

TEST_F(FreshMachine, DesktopLinkHandsOverToTheStartupCopyWhichStartsTheNewestAtOnce) {
    ASSERT_EQ(machine.Run(kSetupCopy, {server.Environment()}).exitCode, 0);
    ASSERT_EQ(machine.StandinRuns(5).size(), 5u);
    const auto target = LnkInfoLocalPath(machine.Host(Folder("Desktop") + "\\Tovanel.lnk"));
    ASSERT_TRUE(target);

    const auto result = machine.Run(*target, {server.Environment()});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    ASSERT_TRUE(machine.WaitForLog("Startup"));
    const auto bootstrap = CrLfLines(machine.Log("Bootstrap"));
    EXPECT_NE(std::find(bootstrap.begin(), bootstrap.end(), "Transfer to: C:\\TSLData\\QLR\\Tovanel.exe"),
              bootstrap.end());

    const std::string startup = machine.Log("Startup");
    for (const std::string& part : std::vector<std::string>{
             "\r\nFoundation loaded.  Starting Existing Program\r\n",
             "\r\nStartProg Starting: C:\\TSLData\\QLR\\QLR6-39.exe QLR\r\nGoing to part 2\r\n",
             "\r\nFoundation already loaded\r\n",
             "\r\nHave: 6-39   Available from cloud: 6-39\r\nNothing to do\r\n",
             "\r\nShortcut for " + Folder("Desktop") + "\\Tovanel.lnk already existed\r\n",
         })
        EXPECT_NE(startup.find(part), std::string::npos) << part << "\n" << startup;
    EXPECT_EQ(startup.find("Starting Program..."), std::string::npos) << startup;

    // Bootstrap's Shifter, then the startup copy's early launch and its Shifter.
    const auto runs = machine.StandinRuns(8);
    ASSERT_EQ(runs.size(), 8u);
    std::vector<std::string> later(runs.begin() + 5, runs.end());
    std::vector<std::string> expectedLater = {
        "C:\\TSLData\\QLR\\Shifter.exe | C:\\TSLData\\QLR\\Shifter.exe | C:\\",
        "C:\\TSLData\\QLR\\QLR6-39.exe | C:\\TSLData\\QLR\\QLR6-39.exe QLR | C:\\TSLData\\QLR",
        "C:\\TSLData\\QLR\\Shifter.exe | C:\\TSLData\\QLR\\Shifter.exe | C:\\TSLData\\QLR",
    };
    // The three programs run side by side: any order.
    std::sort(later.begin(), later.end());
    std::sort(expectedLater.begin(), expectedLater.end());
    EXPECT_EQ(later, expectedLater);
    // Two check-ins: the setup copy's and the startup copy's.
    const std::string checkIns = server.CheckIns(2);
    EXPECT_EQ(std::count(checkIns.begin(), checkIns.end(), '\n'), 2) << checkIns;
    EXPECT_NE(checkIns.find("USER=" + machine.User()), std::string::npos) << checkIns;
}

// The startup copy itself reinstalls the foundation when the school database is missing; the
// package carries a new C:\TSLData\QLR\Tovanel.exe, the very program that is running.
TEST(FoundationReinstall, ReplacesTheRunningStartupProgram) {
    SandboxMachine machine;
    PackageServer server;
    machine.PlaceTovanel(kStartupCopy);
    {
        auto key = machine.platform().OpenRegistryKey(RegistryRoot::LocalMachine, kInstancesKey, true);
        ASSERT_TRUE(key);
        key->WriteString("DefaultInstance", "C:\\Program Files\\Firebird\\Firebird_2_1\\");
    }
    const std::string rebuilt = FileBytes(BuiltProgram("tovanel")) + std::string("\0rebuilt", 8);
    server.Put("Foundation.pak", PackageBytes({{kStartupCopy, rebuilt},
                                               {"C:\\temp\\QLR\\SchoolData\\mydata.ib", "blank school database"}}));

    const auto result = machine.Run(kStartupCopy, {server.Environment()});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    const std::string log = machine.Log("Startup");
    EXPECT_NE(log.find("\r\nFile 1: C:\\TSLData\\QLR\\Tovanel.exe\r\nFile 2: C:\\temp\\QLR\\SchoolData\\mydata.ib"
                       "... OK\r\nFirebird already installed\r\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("\r\nLoading blank database...OK\r\n   ... Foundation loaded OK\r\n"), std::string::npos) << log;
    EXPECT_TRUE(machine.Read(kStartupCopy) == rebuilt);
    EXPECT_EQ(machine.Read("C:\\SchoolData\\mydata.ib"), "blank school database");

    // The new program runs, and finds the foundation in place.
    ASSERT_EQ(machine.Run(kStartupCopy, {server.Environment()}).exitCode, 0);
    EXPECT_NE(machine.Log("Startup").find("\r\nFoundation already loaded\r\n"), std::string::npos);
}

// A build that holds the test release key installs only a foundation signed as "Foundation".
TEST(KeyedFreshMachine, InstallsASignedFoundationAndRefusesAnUnsignedOne) {
    const std::string keyed = FileBytes(BuiltProgram("tovanel-testkey"));
    const std::string standin = FileBytes(BuiltProgram("standin"));
    const std::string foundation = FoundationPackageBytes(keyed, standin);
    for (const bool sign : {true, false}) {
        SCOPED_TRACE(sign ? "signed" : "unsigned");
        SandboxMachine machine;
        PackageServer server;
        machine.PlaceTovanel(kSetupCopy, "tovanel-testkey");
        machine.PlaceStandin("C:\\windows\\system32\\net.exe");
        server.Put("Foundation.pak", sign ? SignedPackage(foundation, "Foundation") : foundation);
        server.Put("QLR6-39.pak", SignedPackage(PackageBytes({{"C:\\TSLData\\QLR\\QLR6-39.exe", standin}}), "QLR6-39"));

        ASSERT_EQ(machine.Run(kSetupCopy, {server.Environment()}).exitCode, 0);
        const std::string log = machine.Log("Setup");
        const std::string refused =
            "\r\nProgram Loaded, decompressing file\r\nPackage refused: Foundation.pak (not signed)... FAILED 8\r\n";
        EXPECT_EQ(log.find(refused) != std::string::npos, !sign) << log;
        EXPECT_EQ(log.find("\r\nLoading blank database...OK\r\n") != std::string::npos, sign) << log;
        EXPECT_EQ(machine.Exists(kStartupCopy), sign);
        EXPECT_EQ(machine.Exists("C:\\Temp\\QLR\\Foundation.pak"), sign);
        if (sign) {
            EXPECT_TRUE(machine.Read(kStartupCopy) == keyed);
            EXPECT_NE(log.find("\r\nFile 1: C:\\TSLData\\QLR\\QLR6-39.exe... OK\r\n"), std::string::npos) << log;
        }
    }
}

}  // namespace
}  // namespace qlr::testing
