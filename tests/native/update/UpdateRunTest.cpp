// Whole runs of the startup copy against a qlr-server on loopback: what the
// saved run log says about the update check, and what it left on disk.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <thread>

#include "common/FaultServer.h"
#include "native/support/ScriptedPlatform.h"

namespace qlr::testing {
namespace {

constexpr const char* kStartup = "C:\\TSLData\\QLR\\Tovanel.exe";
constexpr const char* kNewProgram = "C:\\TSLData\\QLR\\QLR6-39.exe";

std::vector<std::string> CheckSection(const std::string& log) { return UpdateCheckSection(CrLfLines(log)); }

class UpdateRun : public ::testing::Test {
protected:
    explicit UpdateRun(const std::string& certificates = "") : server({}, certificates) {}
    void SetUp() override {
        machine.PlaceFoundation();
        machine.PlaceStandin("C:\\TSLData\\QLR\\QLR6-38.exe");
        machine.PlaceStandin("C:\\TSLData\\QLR\\Shifter.exe");
        server.Put("QLR6-38.pak", Padded(PackageBytes({{"C:\\TSLData\\QLR\\QLR6-38.exe", "6-38"}})));
    }
    std::string RunStartup(const std::vector<std::string>& environment) {
        auto result = machine.Run(kStartup, environment);
        EXPECT_EQ(result.exitCode, 0) << result.output;
        EXPECT_TRUE(machine.WaitForLog("Startup"));
        return machine.Log("Startup");
    }
    std::string Downloading(const std::string& name) const {
        return "Downloading program " + server.BaseUrl() + "updates/" + name + ".pak to C:\\Temp\\QLR\\" + name +
               ".pak";
    }

    SandboxMachine machine;
    PackageServer server;
};

TEST_F(UpdateRun, NewerPackageIsDownloadedAndUnpacked) {
    const std::string program = FileBytes(BuiltProgram("standin"));
    const std::string package = PackageBytes({{kNewProgram, program}, {"C:\\TSLData\\QLR\\notes.txt", "6-39 notes"}});
    server.Put("QLR6-39.pak", package);
    const std::string log = RunStartup({server.Environment()});
    EXPECT_EQ(CheckSection(log), (std::vector<std::string>{
                                     "Accessing cloud",
                                     "Have: 6-38   Available from cloud: 6-39",
                                     Downloading("QLR6-39"),
                                     "Program Loaded, decompressing files",
                                     "Decoding 2 files",
                                     "File 1: C:\\TSLData\\QLR\\QLR6-39.exe",
                                     "File 2: C:\\TSLData\\QLR\\notes.txt",
                                     "... OK",
                                 }))
        << log;
    EXPECT_EQ(machine.Read(kNewProgram), program);
    EXPECT_EQ(machine.Read("C:\\TSLData\\QLR\\notes.txt"), "6-39 notes");
    EXPECT_EQ(machine.Read("C:\\Temp\\QLR\\UpdateList.txt"),
              "QLR6-38.pak 501\r\nQLR6-39.pak " + std::to_string(package.size()) + "\r\n");
    EXPECT_NE(server.CheckIns().find("\tSchool=x\tSMSID=x\tUSER=office"), std::string::npos) << server.CheckIns();
}

TEST_F(UpdateRun, NothingNewerMeansNothingToDo) {
    const std::string log = RunStartup({server.Environment()});
    EXPECT_EQ(CheckSection(log),
              (std::vector<std::string>{"Accessing cloud", "Have: 6-38   Available from cloud: 6-38", "Nothing to do"}))
        << log;
    EXPECT_FALSE(machine.Exists("C:\\Temp\\QLR\\QLR6-38.pak"));
}

TEST_F(UpdateRun, ErrorPageInPlaceOfTheListOffersNothing) {
    const std::string log = RunStartup({"QLR_UPDATE_BASE_URL=" + server.BaseUrl() + "gone/"});
    EXPECT_EQ(CheckSection(log),
              (std::vector<std::string>{"Accessing cloud", "Have: 6-38   Available from cloud: ", "Nothing to do"}))
        << log;
    EXPECT_NE(machine.Read("C:\\Temp\\QLR\\UpdateList.txt").find("Not Found"), std::string::npos);
}

TEST_F(UpdateRun, UnreachableServerEndsTheLogWithTheAddress) {
    const std::string log = RunStartup({});  // the machine's default server does not answer
    EXPECT_EQ(CheckSection(log),
              (std::vector<std::string>{"Accessing cloud", "Unexpected Exception encountered ...FAILED (2)"}))
        << log;
    const std::string tail = std::string("\r\n----------------- End ----------------------\r\n\r\nCannot open URL: ") +
                             kUnreachableServer + "index.php?School=x&SMSID=x&USER=office";
    ASSERT_GE(log.size(), tail.size());
    EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
}

TEST_F(UpdateRun, ServerTextInPlaceOfThePackageEndsTheLog) {
    server.Put("QLR6-39.pak", "Package withdrawn, try again later");
    const std::string log = RunStartup({server.Environment()});
    EXPECT_EQ(CheckSection(log),
              (std::vector<std::string>{"Accessing cloud", "Have: 6-38   Available from cloud: 6-39",
                                        Downloading("QLR6-39"), "Program Loaded, decompressing files",
                                        "... FAILED (Failed to unpack QLR6-39)"}))
        << log;
    const std::string tail = "----------------- End ----------------------\r\n\r\nPackage withdrawn, try again later";
    EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
    EXPECT_NE(log.find("Creating Shortcuts"), std::string::npos);  // the pass went on
}

TEST_F(UpdateRun, PackageWithoutTheProgramFails) {
    server.Put("QLR6-39.pak", Padded(PackageBytes({{"C:\\TSLData\\QLR\\readme.txt", "no program here"}})));
    const std::string log = RunStartup({server.Environment()});
    EXPECT_EQ(CheckSection(log),
              (std::vector<std::string>{"Accessing cloud", "Have: 6-38   Available from cloud: 6-39",
                                        Downloading("QLR6-39"), "Program Loaded, decompressing files",
                                        "Decoding 1 files", "File 1: C:\\TSLData\\QLR\\readme.txt",
                                        "... FAILED (Failed to unpack QLR6-39)"}))
        << log;
    EXPECT_FALSE(machine.Exists(kNewProgram));
}

TEST_F(UpdateRun, DamagedPackageKeepsTheInstalledFiles) {
    machine.Write("C:\\TSLData\\QLR\\notes.txt", "6-38 notes");
    std::string package = PackageBytes({{"C:\\TSLData\\QLR\\notes.txt", Incompressible(4000, 5)}});
    package.resize(package.size() - 100);
    server.Put("QLR6-39.pak", package);
    const std::string log = RunStartup({server.Environment()});
    const std::string tail = "\r\n\r\nThe package C:\\Temp\\QLR\\QLR6-39.pak is damaged";
    EXPECT_EQ(log.substr(log.size() - tail.size()), tail) << log;
    EXPECT_EQ(machine.Read("C:\\TSLData\\QLR\\notes.txt"), "6-38 notes");
    EXPECT_FALSE(machine.Exists("C:\\TSLData\\QLR\\notes.txt.qlrtmp"));
}

TEST_F(UpdateRun, ListNamesThatLeadOutOfTheFolderAreSkipped) {
    FaultServer hostile([](const std::string& target, const std::string&) {
        const std::string list =
            "QLR6-38.pak 501\r\nQLR\\..\\..\\..\\Windows\\evil.pak 501\r\n"
            "QLR/../../../Windows/evil.pak 501\r\nQLR6-99:evil.pak 501\r\n";
        const std::string body = target.rfind("/index.php", 0) == 0 ? list : Padded("");
        return FaultReply("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    });
    const std::string log = RunStartup({"QLR_UPDATE_BASE_URL=" + hostile.Origin() + "/"});
    EXPECT_EQ(CheckSection(log),
              (std::vector<std::string>{"Accessing cloud", "Have: 6-38   Available from cloud: 6-38", "Nothing to do"}))
        << log;
    EXPECT_EQ(hostile.Requests().size(), 1u);
    EXPECT_FALSE(machine.Exists("C:\\Windows\\evil.pak"));
}

TEST_F(UpdateRun, SecondRunWaitsForTheFirstToFinishAndThenDoesItsOwnPass) {
    server.Put("QLR6-39.pak", PackageBytes({{kNewProgram, FileBytes(BuiltProgram("standin"))}}));
    auto firstRun = machine.platform().LockMachine(0);
    ASSERT_TRUE(firstRun);
    const int second = machine.Start(kStartup, {server.Environment()}, {"--verbose"});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (machine.Output(second).find("Waiting for another run") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(server.CheckIns(), "") << "the waiting run asked the server";
    firstRun.reset();
    const auto result = machine.Finish(second);
    EXPECT_EQ(result.exitCode, 0) << result.output;
    const std::vector<std::string> lines = CrLfLines(machine.Log("Startup"));
    const auto start = std::find(lines.begin(), lines.end(), "------------- Start Pt 2 --------------");
    ASSERT_GE(std::distance(start, lines.end()), 3) << result.output;
    EXPECT_EQ(std::vector<std::string>(start + 1, start + 3),
              (std::vector<std::string>{"Waiting for another run to finish installing and updating",
                                        "Foundation already loaded"}));
    EXPECT_EQ(CheckSection(machine.Log("Startup")).back(), "... OK");
}

TEST_F(UpdateRun, OverlappingRunsBothFinishAndLeaveTheUpdateWhole) {
    const std::string program = FileBytes(BuiltProgram("standin"));
    server.Put("QLR6-39.pak",
               PackageBytes({{kNewProgram, program}, {"C:\\TSLData\\QLR\\data.bin", Incompressible(2 << 20, 3)}}));
    for (int pair = 0; pair < 5; ++pair) {
        std::filesystem::remove(machine.Host(kNewProgram));  // each pair finds the update to do
        const int first = machine.Start(kStartup, {server.Environment()}, {"--verbose"});
        const int second = machine.Start(kStartup, {server.Environment()}, {"--verbose"});
        for (int run : {first, second}) {
            const auto result = machine.Finish(run);
            EXPECT_EQ(result.exitCode, 0) << result.output;
            // A run that started after the other had updated finds nothing to do.
            const bool verdict = result.output.find("\n... OK\n") != std::string::npos ||
                                 result.output.find("\nNothing to do\n") != std::string::npos;
            EXPECT_TRUE(verdict && result.output.find("FAILED") == std::string::npos) << "pair " << pair << ":\n"
                                                                                      << result.output;
        }
        EXPECT_EQ(machine.Read(kNewProgram), program);
    }
}

TEST_F(UpdateRun, SchoolNameReachesTheServerAsWritten) {
    machine.Write("c:\\TSLData\\office\\QLR\\Options.txt", "SchoolName=A&B School #1\r\nSMSID=id 7?x=y\r\n");
    RunStartup({server.Environment()});
    EXPECT_NE(server.CheckIns().find("\tSchool=A&B School #1\tSMSID=id 7?x=y\tUSER=office"), std::string::npos)
        << server.CheckIns();
}

// ---- a build that holds the test release key ---------------------------------

struct SignedCase {
    const char* what;
    std::function<std::string(const std::string& package)> serve;  // what the server hands out as QLR6-39
    std::string refusal;                                           // empty: the package is unpacked
};

TEST_F(UpdateRun, KeyedBuildUnpacksOnlyPackagesSignedUnderTheirOwnName) {
    const std::string program = FileBytes(BuiltProgram("standin"));
    const std::string package = PackageBytes({{kNewProgram, program}});
    auto flipped = [](std::string bytes, std::size_t at) {
        bytes[at] ^= 0x01;
        return bytes;
    };
    const std::vector<SignedCase> cases = {
        {"signed", [](const std::string& p) { return SignedPackage(p, "QLR6-39"); }, ""},
        {"unsigned", [](const std::string& p) { return p; }, "not signed"},
        {"byte flipped in an entry",
         [&](const std::string& p) { return flipped(SignedPackage(p, "QLR6-39"), p.size() / 2); }, "bad signature"},
        {"byte flipped in the signature",
         [&](const std::string& p) { return flipped(SignedPackage(p, "QLR6-39"), p.size() + 8 + 4 + 7 + 10); },
         "bad signature"},
        {"another key", [](const std::string& p) { return SignedPackage(p, "QLR6-39", "test-other-private.pem"); },
         "bad signature"},
        {"old release renamed", [](const std::string& p) { return SignedPackage(p, "QLR6-20"); }, "signed as QLR6-20"},
    };
    for (const SignedCase& c : cases) {
        SCOPED_TRACE(c.what);
        SandboxMachine keyed;
        keyed.PlaceFoundation();
        keyed.PlaceTovanel(kStartup, "tovanel-testkey");
        keyed.PlaceStandin("C:\\TSLData\\QLR\\QLR6-38.exe");
        keyed.PlaceStandin("C:\\TSLData\\QLR\\Shifter.exe");
        server.Put("QLR6-39.pak", c.serve(package));
        ASSERT_EQ(keyed.Run(kStartup, {server.Environment()}).exitCode, 0);
        ASSERT_TRUE(keyed.WaitForLog("Startup"));
        const std::string log = keyed.Log("Startup");
        std::vector<std::string> expected = {"Accessing cloud", "Have: 6-38   Available from cloud: 6-39",
                                             Downloading("QLR6-39"), "Program Loaded, decompressing files"};
        if (c.refusal.empty()) {
            expected.insert(expected.end(), {"Decoding 1 files", "File 1: " + std::string(kNewProgram), "... OK"});
        } else {
            expected.insert(expected.end(), {"Package refused: QLR6-39.pak (" + c.refusal + ")",
                                             "... FAILED (Failed to unpack QLR6-39)"});
        }
        EXPECT_EQ(CheckSection(log), expected) << log;
        EXPECT_EQ(keyed.Exists(kNewProgram), c.refusal.empty());
        EXPECT_EQ(keyed.Exists("C:\\Temp\\QLR\\QLR6-39.pak"), c.refusal.empty());  // a refused one is deleted
        // The installed version was started all the same.
        const auto runs = keyed.StandinRuns(2);
        EXPECT_NE(std::find(runs.begin(), runs.end(),
                            "C:\\TSLData\\QLR\\QLR6-38.exe | C:\\TSLData\\QLR\\QLR6-38.exe QLR | C:\\TSLData\\QLR"),
                  runs.end());
    }
}

TEST_F(UpdateRun, KeyedBuildStillShowsAServerMessage) {
    machine.PlaceTovanel(kStartup, "tovanel-testkey");
    server.Put("QLR6-39.pak", "Package withdrawn, try again later");
    const std::string log = RunStartup({server.Environment()});
    EXPECT_EQ(CheckSection(log).back(), "... FAILED (Failed to unpack QLR6-39)") << log;
    EXPECT_TRUE(log.ends_with("\r\n\r\nPackage withdrawn, try again later")) << log;
    EXPECT_EQ(log.find("Package refused"), std::string::npos) << log;
}

// ---- HTTPS ------------------------------------------------------------------------

// A throw-away test CA and localhost certificates, made once per test run
// and removed at its end.
const std::string& TestCertificates() {
    struct Folder {
        std::string path;
        ~Folder() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    };
    static const Folder folder{[] {
        std::string pattern = (std::filesystem::temp_directory_path() / "qlr-certificates-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a certificate folder");
        const std::string command = std::string(QLR_SOURCE_DIR) + "/scripts/test-certificates.sh " + pattern;
        if (std::system(command.c_str()) != 0) throw std::runtime_error("cannot make test certificates");
        return pattern;
    }()};
    return folder.path;
}

class HttpsRun : public UpdateRun {
protected:
    HttpsRun() : UpdateRun(TestCertificates()) {}
    // The sandbox machine's root store.
    void TrustTestAuthority(bool trusted) {
        const auto roots = machine.Root() / "trusted-roots.pem";
        std::filesystem::remove(roots);
        if (trusted) std::filesystem::copy_file(TestCertificates() + "/ca.pem", roots);
    }
};

TEST_F(HttpsRun, WholeUpdateOverHttpsOnceTheMachineTrustsTheAuthority) {
    ASSERT_EQ(server.BaseUrl().rfind("https://localhost:", 0), 0u) << server.BaseUrl();
    TrustTestAuthority(true);
    const std::string program = FileBytes(BuiltProgram("standin"));
    server.Put("QLR6-39.pak", PackageBytes({{kNewProgram, program}}));
    const std::string log = RunStartup({server.Environment()});
    EXPECT_EQ(CheckSection(log),
              (std::vector<std::string>{"Accessing cloud", "Have: 6-38   Available from cloud: 6-39",
                                        Downloading("QLR6-39"), "Program Loaded, decompressing files",
                                        "Decoding 1 files", "File 1: C:\\TSLData\\QLR\\QLR6-39.exe", "... OK"}))
        << log;
    EXPECT_EQ(machine.Read(kNewProgram), program);
}

TEST_F(HttpsRun, CertificateOfAnUntrustedAuthorityOrAnotherHostIsRefused) {
    std::string byAddress = server.BaseUrl();
    byAddress.replace(byAddress.find("localhost"), 9, "127.0.0.1");
    struct Case {
        const char* what;
        bool trusted;
        std::string base;
    };
    for (const Case& c : {Case{"untrusted authority", false, server.BaseUrl()},
                          Case{"certificate names another host", true, byAddress}}) {
        TrustTestAuthority(c.trusted);
        const std::string log = RunStartup({"QLR_UPDATE_BASE_URL=" + c.base});
        EXPECT_EQ(CheckSection(log),
                  (std::vector<std::string>{"Accessing cloud", "Unexpected Exception encountered ...FAILED (2)"}))
            << c.what << "\n"
            << log;
        const std::string tail = "\r\n\r\nCannot open URL: " + c.base + "index.php?School=x&SMSID=x&USER=office";
        EXPECT_EQ(log.substr(log.size() - std::min(log.size(), tail.size())), tail) << c.what;
    }
    EXPECT_TRUE(server.CheckIns().empty()) << server.CheckIns();
}

}  // namespace
}  // namespace qlr::testing
