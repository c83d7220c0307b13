// A setup copy on a fresh sandbox machine installs the foundation: every
// outcome of the installation as the saved run log, the programs started
// and the files and registry left behind show it.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "native/support/PackageServer.h"

namespace qlr::testing {
namespace {

constexpr const char* kSetupCopy = "C:\\Downloads\\SETUP\\Tovanel.exe";
constexpr const char* kInstancesKey = "Software\\Firebird Project\\Firebird Server\\Instances";
constexpr const char* kClientLibrary = "C:\\windows\\system32\\GDS32.dll";
constexpr const char* kBlankDatabase = "blank school database";
constexpr const char* kNetGuardian = "net stop \"InterBase Guardian\" >NULL";
constexpr const char* kNetServer = "net stop \"InterBase Server\" >NULL";
const std::string kInstaller =
    "c:\\temp\\QLR\\Firebird\\Firebird-2.1.1.17910-0_Win32.exe /SILENT /VERYSILENT /SP- /SUPPRESSMSGBOXES "
    "/LOG=\"c:\\temp\\qlr\\FBInstallLog.txt\" /NOCANCEL /NOICONS   "
    "/COMPONENTS=\"ServerComponent\\SuperServerComponent,ServerComponent,ClientComponent\" /NOCPL    ";

std::vector<PackageEntry> FoundationEntries(bool withInstaller) {
    // Large enough to be taken for a package even without the installer.
    std::vector<PackageEntry> entries = {{"C:\\TSLData\\QLR\\Tovanel.exe", NoiseBytes(600)}};
    if (withInstaller)
        entries.push_back(
            {"c:\\temp\\QLR\\Firebird\\Firebird-2.1.1.17910-0_Win32.exe", FileBytes(BuiltProgram("standin"))});
    entries.push_back({"C:\\temp\\QLR\\SchoolData\\mydata.ib", kBlankDatabase});
    return entries;
}

const std::string& Foundation() {
    static const std::string bytes = PackageBytes(FoundationEntries(true));
    return bytes;
}

// The gauge after a download of that many bytes from an empty gauge, measured against 20000000.
std::string GaugeAfter(std::size_t bytes) { return std::to_string(std::min<std::size_t>(100, bytes * 100 / 20000000)); }

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

const std::vector<std::string> kBegin = {"Loading Foundation....", "Installing Foundation",
                                         "Removing Temporary Directories, Temp\\QLR"};
const std::vector<std::string> kTempCleared = {"... OK"};
const std::vector<std::string> kFolders = {"Creating Program Directories... OK", "SchoolData Exists ... OK"};
const std::vector<std::string> kDownloaded = {"Downloading Foundation File to C:\\Temp\\QLR\\Foundation.pak",
                                              "Gauge = 0", "Program Loaded, decompressing file", "Gauge = {G1}"};
const std::vector<std::string> kUnpacked = {"Decoding 3 files", "File 1: C:\\TSLData\\QLR\\Tovanel.exe",
                                            "File 2: c:\\temp\\QLR\\Firebird\\Firebird-2.1.1.17910-0_Win32.exe",
                                            "File 3: C:\\temp\\QLR\\SchoolData\\mydata.ib... OK"};
const std::vector<std::string> kSchoolData = {"Pt 1", "SchoolData Exists ... OK", "Pt 2"};
const std::vector<std::string> kBlankLoaded = {"Loading blank database...OK"};
const std::vector<std::string> kLoaded = {"   ... Foundation loaded OK"};
const std::vector<std::string> kLoadFailed = {"   ... Foundation load FAILED"};
const std::vector<std::string> kCopyFailed = {"Loading blank database",
                                              "Copying file: C:\\temp\\QLR\\SchoolData\\mydata.ib to "
                                              "c:\\schooldata\\mydata.ib....FAILED 12...FAILED 11"};

class InstallRun;

struct InstallCase {
    const char* name;
    std::function<void(InstallRun&)> prepare;
    std::vector<std::string> environment;
    std::vector<std::string> section;  // from "Loading Foundation...." on; {G1}: the gauge after the download
    std::vector<std::string> started;  // command lines, in order
    bool registered;                   // a default instance is registered afterwards
    bool libraryKept;
    std::string database;  // content of c:\schooldata\mydata.ib afterwards; empty: none
};

void PrintTo(const InstallCase& c, std::ostream* out) { *out << c.name; }

class InstallRun : public ::testing::TestWithParam<InstallCase> {
public:
    void SetUp() override {
        machine.PlaceTovanel(kSetupCopy);
        machine.PlaceStandin("C:\\windows\\system32\\net.exe");
        machine.Write(kClientLibrary, "old client library");
        package = Foundation();
    }

    void RegisterFirebird() {
        auto key = machine.platform().OpenRegistryKey(RegistryRoot::LocalMachine, kInstancesKey, true);
        ASSERT_TRUE(key);
        ASSERT_TRUE(key->WriteString("DefaultInstance", "C:\\Program Files\\Firebird\\Firebird_2_1\\"));
    }
    std::string DefaultInstance() {
        auto key = machine.platform().OpenRegistryKey(RegistryRoot::LocalMachine, kInstancesKey, false);
        return key ? key->ReadValue("DefaultInstance").text : std::string();
    }

    SandboxMachine machine;
    PackageServer server;
    std::string package;
};

// The log's lines from "Loading Foundation...." to the run pass's verdict on it.
std::vector<std::string> InstallSection(const std::string& log) {
    std::vector<std::string> section;
    bool inside = false;
    for (const auto& line : CrLfLines(log)) {
        inside = inside || line == "Loading Foundation....";
        if (!inside) continue;
        section.push_back(line);
        if (line.rfind("   ... Foundation lo", 0) == 0 || line.rfind("Unexpected Exception", 0) == 0) break;
    }
    return section;
}

std::vector<std::string> CommandLines(const std::vector<std::string>& runs) {
    std::vector<std::string> lines;
    for (const auto& run : runs) {
        const auto first = run.find(" | ");
        const auto last = run.rfind(" | ");
        lines.push_back(run.substr(first + 3, last - first - 3));
    }
    return lines;
}

TEST_P(InstallRun, LogsEveryOutcomeAndLeavesTheMachineSo) {
    const InstallCase& c = GetParam();
    if (c.prepare) c.prepare(*this);
    server.Put("Foundation.pak", package);

    std::vector<std::string> environment = c.environment;
    environment.push_back(server.Environment());
    const auto result = machine.Run(kSetupCopy, environment);
    ASSERT_EQ(result.exitCode, 0) << result.output;
    ASSERT_TRUE(machine.HasLog("Setup")) << result.output;
    const std::string log = machine.Log("Setup");

    std::vector<std::string> expected = c.section;
    for (auto& line : expected)
        if (auto at = line.find("{G1}"); at != std::string::npos) line.replace(at, 4, GaugeAfter(package.size()));
    EXPECT_EQ(InstallSection(log), expected) << log;
    if (expected.back() == kLoadFailed.back()) {
        // A foundation that is not ready ends the pass: the end block follows at once.
        const std::string tail = expected.back() + "\r\n----------------- End ----------------------\r\n\r\n";
        EXPECT_NE(log.find(tail), std::string::npos) << log;
    }

    EXPECT_EQ(CommandLines(machine.StandinRuns(c.started.size())), c.started);
    EXPECT_EQ(!DefaultInstance().empty(), c.registered);
    EXPECT_EQ(machine.Exists(kClientLibrary), c.libraryKept);
    if (c.database.empty())
        EXPECT_FALSE(machine.Exists("C:\\SchoolData\\mydata.ib"));
    else
        EXPECT_EQ(machine.Read("C:\\SchoolData\\mydata.ib"), c.database);
}

const std::vector<std::string> kFirebirdRuns = {kNetGuardian, kNetServer, kInstaller};

// The installation's lines up to the Firebird step, after a clean download and unpack.
const std::vector<std::string> kUnpackedAsUsual = Join({kBegin, kTempCleared, kFolders, kDownloaded, kUnpacked});

void SetUpRegistration(InstallRun& r) { r.RegisterFirebird(); }

// clang-format off
INSTANTIATE_TEST_SUITE_P(Foundation, InstallRun, ::testing::Values(
    InstallCase{"FreshMachine", nullptr, {},
        Join({kUnpackedAsUsual, {"Installing Firebird...OK"}, kSchoolData, kBlankLoaded, kLoaded}),
        kFirebirdRuns, true, false, kBlankDatabase},
    InstallCase{"FirebirdAlreadyRegistered", SetUpRegistration, {},
        Join({kUnpackedAsUsual, {"Firebird already installed"}, kSchoolData, kBlankLoaded, kLoaded}),
        {}, true, true, kBlankDatabase},
    InstallCase{"InstallerRegistersNothing", nullptr, {"QLR_STANDIN_NO_INSTALL=1"},
        Join({kUnpackedAsUsual, {"Installing Firebird...FAILED 9"}, kSchoolData, kBlankLoaded, kLoadFailed}),
        kFirebirdRuns, false, false, kBlankDatabase},
    InstallCase{"PackageWithoutInstaller",
        [](InstallRun& r) { r.package = PackageBytes(FoundationEntries(false)); }, {},
        Join({kBegin, kTempCleared, kFolders, kDownloaded,
              {"Decoding 2 files", "File 1: C:\\TSLData\\QLR\\Tovanel.exe",
               "File 2: C:\\temp\\QLR\\SchoolData\\mydata.ib... OK", "Installing Firebird...FAILED 9"},
              kSchoolData, kBlankLoaded, kLoadFailed}),
        {kNetGuardian, kNetServer}, false, false, kBlankDatabase},
    InstallCase{"RegisteredKeyCannotBeOpenedForFullAccess",
        [](InstallRun& r) {
            r.RegisterFirebird();
            r.machine.Deny(std::string("key HKLM\\") + kInstancesKey);
        }, {},
        Join({kUnpackedAsUsual, {"Installing Firebird...FAILED 9"}, kSchoolData, kBlankLoaded, kLoadFailed}),
        kFirebirdRuns, false, false, kBlankDatabase},
    InstallCase{"InvalidPackage",
        [](InstallRun& r) { r.package.replace(0, 4, std::string("\x65\x00\x00\x00", 4)); },  // 101 entries
        {},
        Join({kBegin, kTempCleared, kFolders, kDownloaded, {"File invalid. Contains 101 files... FAILED 8"},
              kLoadFailed}),
        {}, false, true, ""},
    InstallCase{"DatabaseCannotBeCopied",
        [](InstallRun& r) { r.machine.Deny("file C:\\SchoolData\\mydata.ib"); }, {},
        Join({kUnpackedAsUsual, {"Installing Firebird...OK"}, kSchoolData, kCopyFailed, kLoadFailed}),
        kFirebirdRuns, true, false, ""},
    InstallCase{"SchoolDataCannotBeCreated",
        [](InstallRun& r) { r.machine.Deny("folder C:\\SchoolData"); }, {},
        Join({kBegin, kTempCleared,
              {"Creating Program Directories... OK", "SchoolData Does NOT exist ....FAILED 7"},
              kDownloaded, kUnpacked,
              {"Installing Firebird...OK", "Pt 1", "SchoolData Does NOT exist ....FAILED 10", "Pt 2"},
              kCopyFailed, kLoadFailed}),
        kFirebirdRuns, true, false, ""},
    InstallCase{"TemporaryFileHeldOpen",
        [](InstallRun& r) {
            r.machine.Write("C:\\Temp\\QLR\\held.txt", "in use");
            r.machine.Deny("file C:\\Temp\\QLR\\held.txt");
        }, {},
        Join({kBegin, {"... FAILED 5"}, kFolders, kDownloaded, kUnpacked, {"Installing Firebird...OK"},
              kSchoolData, kBlankLoaded, kLoaded}),
        kFirebirdRuns, true, false, kBlankDatabase},
    InstallCase{"ProgramFolderCannotBeCreated",
        [](InstallRun& r) { r.machine.Deny("folder C:\\Program Files\\Tessaly"); }, {},
        Join({kBegin, kTempCleared,
              {"Creating Program Directories... FAILED 6a... OK", "SchoolData Exists ... OK"},
              kDownloaded, kUnpacked, {"Installing Firebird...OK"}, kSchoolData, kBlankLoaded, kLoaded}),
        kFirebirdRuns, true, false, kBlankDatabase},
    InstallCase{"ExistingSchoolDatabaseIsKept",
        [](InstallRun& r) { r.machine.Write("C:\\SchoolData\\mydata.ib", "the school's own data"); }, {},
        Join({kUnpackedAsUsual, {"Installing Firebird...OK"}, kSchoolData, kLoaded}),
        kFirebirdRuns, true, false, "the school's own data"}),
    [](const ::testing::TestParamInfo<InstallCase>& info) { return std::string(info.param.name); });
// clang-format on

// Failures the installation does not catch end it where they happen.
class InstallAbort : public InstallRun {};

TEST_F(InstallAbort, NoPackageOnTheServerIsAnInvalidPackage) {
    // The server's short error page stands where the package should be.
    const auto result = machine.Run(kSetupCopy, {server.Environment()});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    const std::string log = machine.Log("Setup");
    const auto section = InstallSection(log);
    ASSERT_GE(section.size(), 3u) << log;
    EXPECT_EQ(section[section.size() - 2].rfind("Gauge = ", 0), 0u) << log;
    EXPECT_TRUE(section[section.size() - 2].ends_with("... FAILED 8")) << log;
    EXPECT_EQ(section.back(), kLoadFailed.back());
    // The server's page is what the error box shows: the last text of the log.
    const auto end = log.find("----------------- End ----------------------\r\n\r\n");
    ASSERT_NE(end, std::string::npos);
    EXPECT_NE(log.find("Not Found", end), std::string::npos) << log;
    EXPECT_TRUE(machine.StandinRuns().empty());
}

TEST_F(InstallAbort, UnreachableServerEndsTheInstallationAfterTheDownloadLine) {
    const auto result = machine.Run(kSetupCopy);  // the fixture's default server does not answer
    ASSERT_EQ(result.exitCode, 0) << result.output;
    const std::string log = machine.Log("Setup");
    EXPECT_EQ(InstallSection(log), Join({kBegin,
                                         kTempCleared,
                                         kFolders,
                                         {"Downloading Foundation File to C:\\Temp\\QLR\\Foundation.pak", "Gauge = 0",
                                          "Unexpected Exception encountered ...FAILED (2)"}}))
        << log;
    EXPECT_TRUE(log.ends_with("\r\n\r\nCannot open URL: " + std::string(kUnreachableServer) + "updates/Foundation.pak"))
        << log;
    EXPECT_TRUE(machine.Exists(kClientLibrary));
}

}  // namespace
}  // namespace qlr::testing
