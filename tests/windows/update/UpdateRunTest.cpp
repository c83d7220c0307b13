// Whole runs of the real Tovanel.exe against the qlr-server that
// scripts/with-server.sh started for this test run (QLR_SERVER_ROOT names
// its folder, QLR_UPDATE_BASE_URL its address); and WinInet against it.

#include <windows.h>

#include <wincrypt.h>

#include <algorithm>
#include <cstdlib>
#include <thread>

#include "app/main.h"
#include "common/HttpContract.h"
#include "common/LogSection.h"
#include "common/PackageBytes.h"
#include "platform/win32/ProgressWindowWin32.h"
#include "platform/win32/Win32Platform.h"
#include "platform/win32/WinInetHttp.h"
#include "windows/support/TestHttpServer.h"
#include "windows/support/WineMachine.h"

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
    void Publish(const std::string& name, const std::string& bytes) { WriteBytes(updates + "\\" + name, bytes); }

    std::string RunStartup() {
        EXPECT_EQ(RunProgram(kStartup), 0u);
        EXPECT_TRUE(WaitForAllEnded());
        return ReadBytes(kStartupLog).value_or("<no log>");
    }
    std::string Downloading(const std::string& name) const {
        return "Downloading program " + base + "updates/" + name + ".pak to C:\\Temp\\QLR\\" + name + ".pak";
    }
    // Publishes 6-39, runs the startup copy, and expects it installed.
    void ExpectNewerPackageInstalled() {
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

    std::string base, updates;
    ScopedEnvironment noProxy{"http_proxy", nullptr};
};

TEST_F(UpdateRun, NewerPackageIsDownloadedAndUnpacked) { ExpectNewerPackageInstalled(); }

TEST_F(UpdateRun, NothingNewerMeansNothingToDo) {
    const std::string log = RunStartup();
    EXPECT_EQ(CheckSection(log),
              (std::vector<std::string>{"Accessing cloud", "Have: 6-38   Available from cloud: 6-38", "Nothing to do"}))
        << log;
}

TEST_F(UpdateRun, ErrorPageInPlaceOfTheListOffersNothing) {
    ScopedEnvironment gone("QLR_UPDATE_BASE_URL", (base + "gone/").c_str());
    const std::string log = RunStartup();
    EXPECT_EQ(CheckSection(log),
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
    const std::string tail = "Cannot open URL: http://127.0.0.1:9/index.php?School=x&SMSID=x&USER=" + UserName();
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
    const std::string tail = "----------------- End ----------------------\r\n\r\nPackage withdrawn, try again later";
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

// An entry that points off drive C: (Wine's Z: is the host's whole file
// system) or plays tricks with the path makes the package damaged: nothing
// of it is written, not even the sound entry before it.
TEST_F(UpdateRun, HostileEntryPathWritesNothingAnywhere) {
    const std::string host = "Z:\\tmp\\qlr-hostile-" + std::to_string(::GetCurrentProcessId());
    MakeFolders(host);
    const std::string escapes[] = {host + "\\evil.txt",
                                   "D:\\evil.txt",
                                   "C:\\..\\evil.txt",
                                   "\\\\?\\C:\\evil.txt",
                                   "\\\\.\\C:\\evil.txt",
                                   "\\\\server\\share\\evil.txt",
                                   std::string(kDataFolder) + "\\evil.txt:stream"};
    for (const std::string& escape : escapes) {
        Publish("QLR6-39.pak", Padded(PackageBytes({{kNewProgram, "6-39"}, {escape, "evil"}})));
        const std::string log = RunStartup();
        EXPECT_EQ(CheckSection(log),
                  (std::vector<std::string>{"Accessing cloud", "Have: 6-38   Available from cloud: 6-39",
                                            Downloading("QLR6-39"), "Program Loaded, decompressing files",
                                            "Decoding 2 files", "File 1: " + kNewProgram,
                                            "Unexpected Exception encountered ...FAILED (2)"}))
            << escape << "\n"
            << log;
        const std::string tail = "The package C:\\Temp\\QLR\\QLR6-39.pak is damaged";
        EXPECT_EQ(log.substr(log.size() - std::min(log.size(), tail.size())), tail) << escape;
        for (const std::string& written :
             {host + "\\evil.txt", std::string("C:\\evil.txt"), std::string(kDataFolder) + "\\evil.txt", kNewProgram})
            EXPECT_FALSE(PathExists(written)) << escape << " wrote " << written;
        WIN32_FIND_DATAA found{};
        win32::UniqueFind temporaries(::FindFirstFileA((std::string(kDataFolder) + "\\*.qlrtmp").c_str(), &found));
        EXPECT_FALSE(temporaries) << escape << " left " << found.cFileName;
    }
    RemoveTree(host);
}

// Another program that merely has Options.txt open (an editor, a virus
// scanner) neither stops the early launch nor the update check.
TEST_F(UpdateRun, OptionsHeldOpenByAnotherProgramAreStillRead) {
    PlaceStandin(std::string(kDataFolder) + "\\QLR6-37.exe");
    const std::string options = "C:\\TSLData\\" + UserName() + "\\QLR\\Options.txt";
    WriteBytes(options, "SchoolName=Hill School\r\nUseVersion=QLR6-37.exe\r\n");
    struct Holder {
        const char* what;
        DWORD access, share;
    };
    const Holder holders[] = {
        {"an editor reading it", GENERIC_READ, FILE_SHARE_READ},
        {"a program writing it, shared", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE},
        {"a scanner", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE},
    };
    for (const Holder& holder : holders) {
        RemoveTree(kRunsFile);
        win32::UniqueHandle held(::CreateFileA(options.c_str(), holder.access, holder.share, nullptr, OPEN_EXISTING,
                                               FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(held) << holder.what;
        const std::string log = RunStartup();
        const auto runs = Runs();
        ASSERT_FALSE(runs.empty()) << holder.what << "\n" << log;
        EXPECT_EQ(runs.front().commandLine, std::string(kDataFolder) + "\\QLR6-37.exe QLR") << holder.what;
        EXPECT_NE(log.find("User has selected version: QLR6-37.exe"), std::string::npos) << holder.what;
        EXPECT_EQ(CheckSection(log),
                  (std::vector<std::string>{"Accessing cloud", "Have: 6-38   Available from cloud: 6-38",
                                            "Nothing to do"}))
            << holder.what << "\n"
            << log;
    }
}

// ---- a build that holds the test release key ---------------------------------

TEST_F(UpdateRun, KeyedBuildUnpacksOnlyPackagesSignedUnderTheirOwnName) {
    const std::string program = ReadBytes(BuildFolder() + "\\standin.exe").value();
    const std::string package = PackageBytes({{kNewProgram, program}});
    auto flipped = [](std::string bytes, std::size_t at) {
        bytes[at] ^= 0x01;
        return bytes;
    };
    struct Case {
        const char* what;
        std::string served;
        std::string refusal;  // empty: unpacked
    };
    const Case cases[] = {
        {"signed", SignedPackage(package, "QLR6-39"), ""},
        {"unsigned", package, "not signed"},
        {"byte flipped in an entry", flipped(SignedPackage(package, "QLR6-39"), package.size() / 2), "bad signature"},
        {"byte flipped in the signature", flipped(SignedPackage(package, "QLR6-39"), package.size() + 8 + 4 + 7 + 10),
         "bad signature"},
        {"another key", SignedPackage(package, "QLR6-39", kTestOtherKey), "bad signature"},
        {"old release renamed", SignedPackage(package, "QLR6-20"), "signed as QLR6-20"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RemoveTree("C:\\Temp");
        RemoveTree(kNewProgram);
        RemoveTree(kRunsFile);
        PlaceTovanel(kStartup, "Tovanel-testkey.exe");
        Publish("QLR6-39.pak", c.served);
        const std::string log = RunStartup();
        std::vector<std::string> expected = {"Accessing cloud", "Have: 6-38   Available from cloud: 6-39",
                                             Downloading("QLR6-39"), "Program Loaded, decompressing files"};
        if (c.refusal.empty())
            expected.insert(expected.end(), {"Decoding 1 files", "File 1: " + kNewProgram, "... OK"});
        else
            expected.insert(expected.end(), {"Package refused: QLR6-39.pak (" + c.refusal + ")",
                                             "... FAILED (Failed to unpack QLR6-39)"});
        EXPECT_EQ(CheckSection(log), expected) << log;
        EXPECT_EQ(PathExists(kNewProgram), c.refusal.empty());
        EXPECT_EQ(PathExists("C:\\Temp\\QLR\\QLR6-39.pak"), c.refusal.empty());
        const auto runs = WaitForRuns(2);
        EXPECT_NE(std::find(runs.begin(), runs.end(),
                            StandinRun{std::string(kDataFolder) + "\\QLR6-38.exe",
                                       std::string(kDataFolder) + "\\QLR6-38.exe QLR", kDataFolder}),
                  runs.end());
    }
}

TEST_F(UpdateRun, ListNamesThatLeadOutOfTheFolderAreSkipped) {
    TestHttpServer hostile(
        std::map<std::string, std::string>{{"/index.php",
                                            "QLR6-38.pak 501\r\nQLR\\..\\..\\..\\Windows\\evil.pak 501\r\n"
                                            "QLR/../../../Windows/evil.pak 501\r\nQLR6-99:evil.pak 501\r\n"}});
    ScopedEnvironment url("QLR_UPDATE_BASE_URL", hostile.BaseUrl().c_str());
    const std::string log = RunStartup();
    EXPECT_EQ(CheckSection(log),
              (std::vector<std::string>{"Accessing cloud", "Have: 6-38   Available from cloud: 6-38", "Nothing to do"}))
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

TEST_F(UpdateRun, EditWindowsShowTheFinalCountsOnceTheDownloadEnds) {
    const std::string package = NoiseBytes(300000, 78);
    Publish("QLR6-40.pak", package);
    MakeFolders("C:\\Temp\\QLR");
    auto platform = win32::CreateWin32Platform();
    TForm1 form(*platform);
    form.ProgramStarted = true;
    form.ExpectedBytes = 400000;
    form.DownloadFile(base + "updates/QLR6-40.pak", "C:\\Temp\\QLR\\QLR6-40.pak");
    EXPECT_EQ(ReadBytes("C:\\Temp\\QLR\\QLR6-40.pak"), package);
    const std::pair<TEdit*, const char*> shown[] = {{&form.Edit5, "300000"},
                                                    {&form.Edit7, "400000"},
                                                    {&form.Edit8, "75"}};
    for (const auto& [edit, text] : shown) {
        HWND window = static_cast<HWND>(edit->Peer()->Handle());
        char held[32] = {};
        ::GetWindowTextA(window, held, sizeof held);
        EXPECT_EQ(std::string(held), text) << edit->Name;
        EXPECT_EQ(edit->Text(), text);
    }
}

// ---- HTTPS (scripts/with-server.sh --tls) ------------------------------------------

// The test CA in this prefix's CurrentUser Root store while it lives. The
// store keeps a change only once it is closed.
class TrustedTestAuthority {
public:
    explicit TrustedTestAuthority(const std::string& der) : der_(der) {
        HCERTSTORE store = OpenRoot();
        if (!store || !::CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, Bytes(), Size(),
                                                          CERT_STORE_ADD_REPLACE_EXISTING, nullptr))
            ADD_FAILURE() << "cannot add the test CA to the Root store: " << ::GetLastError();
        if (store) ::CertCloseStore(store, 0);
    }
    ~TrustedTestAuthority() {
        HCERTSTORE store = OpenRoot();
        PCCERT_CONTEXT mine = ::CertCreateCertificateContext(X509_ASN_ENCODING, Bytes(), Size());
        PCCERT_CONTEXT found =
            store && mine ? ::CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, mine, nullptr)
                          : nullptr;
        if (found) ::CertDeleteCertificateFromStore(found);
        if (mine) ::CertFreeCertificateContext(mine);
        if (store) ::CertCloseStore(store, 0);
    }
    TrustedTestAuthority(const TrustedTestAuthority&) = delete;
    TrustedTestAuthority& operator=(const TrustedTestAuthority&) = delete;

private:
    static HCERTSTORE OpenRoot() {
        return ::CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, "Root");
    }
    const BYTE* Bytes() const { return reinterpret_cast<const BYTE*>(der_.data()); }
    DWORD Size() const { return static_cast<DWORD>(der_.size()); }
    std::string der_;
};

// A Unix path as Wine's Z: drive shows it.
std::string WinePath(std::string unixPath) {
    for (char& c : unixPath)
        if (c == '/') c = '\\';
    return "Z:" + unixPath;
}

class HttpsRun : public UpdateRun {
protected:
    void SetUp() override {
        UpdateRun::SetUp();
        ASSERT_EQ(base.rfind("https://localhost:", 0), 0u) << "run these tests under scripts/with-server.sh --tls";
        caDer = ReadBytes(WinePath(Environment("QLR_TEST_CERTIFICATES") + "/ca.der")).value_or("");
        ASSERT_FALSE(caDer.empty());
    }
    std::string caDer;
};

TEST_F(HttpsRun, WholeUpdateOverHttpsOnceTheMachineTrustsTheAuthority) {
    TrustedTestAuthority trusted(caDer);
    ExpectNewerPackageInstalled();
}

TEST_F(HttpsRun, CertificateOfAnUntrustedAuthorityOrAnotherHostIsRefused) {
    TrustedTestAuthority trusted(caDer);
    std::string byAddress = base;
    byAddress.replace(byAddress.find("localhost"), 9, "127.0.0.1");
    struct Case {
        const char* what;
        std::string base;
    };
    for (const Case& c : {Case{"certificate of an untrusted authority", Environment("QLR_UNTRUSTED_BASE_URL")},
                          Case{"certificate names another host", byAddress}}) {
        ASSERT_FALSE(c.base.empty()) << c.what;
        ScopedEnvironment address("QLR_UPDATE_BASE_URL", c.base.c_str());
        const std::string log = RunStartup();
        EXPECT_EQ(CheckSection(log),
                  (std::vector<std::string>{"Accessing cloud", "Unexpected Exception encountered ...FAILED (2)"}))
            << c.what << "\n"
            << log;
        const std::string tail = "\r\n\r\nCannot open URL: " + c.base + "index.php?School=x&SMSID=x&USER=" + UserName();
        EXPECT_EQ(log.substr(log.size() - std::min(log.size(), tail.size())), tail) << c.what;
    }
}

// ---- WinInet itself -----------------------------------------------------------

TEST_F(UpdateRun, WinInetDeliversTheBodyInWholePiecesWhateverTheStatus) {
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
        std::size_t lastCount = sizeof buffer;
        for (;;) {
            HttpRead read = response->Read(buffer, sizeof buffer);
            ASSERT_FALSE(read.failed);
            ASSERT_LE(read.count, sizeof buffer);
            // Whole pieces until the last, whatever blocks WinInet handed over.
            ASSERT_TRUE(read.count == 0 || lastCount == sizeof buffer) << body.size();
            lastCount = read.count;
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

// ---- the contract both HTTP clients keep (the native suite runs the same table) ----

TEST(HttpContract, WinInetClientEndsEveryMisbehavingReplyAsAgreed) {
    const std::string local = "C:\\Temp\\QLR\\contract.pak";
    MakeFolders("C:\\Temp\\QLR");
    ScopedEnvironment noProxy("http_proxy", nullptr);
    ::_putenv_s("QLR_HTTP_TIME_LIMIT", kContractTimeLimit);
    ::_putenv_s("QLR_HTTP_RESUME_PAUSE", kContractResumePause);
    // scripts/wine-test.sh serves the TLS pages (scripts/tls-pages.sh) for this test.
    const std::string pages = Environment("QLR_TLS_PAGES");
    ASSERT_FALSE(pages.empty()) << "run this test under scripts/wine-test.sh";
    std::string secure = Environment("QLR_TLS_PAGES_BASE");
    secure.pop_back();
    TrustedTestAuthority trusted(ReadBytes(WinePath(pages + "/certificates/ca.der")).value_or(""));
    std::unique_ptr<Platform> platform = win32::CreateWin32Platform();
    TForm1 form(*platform);
    PrepareContractForm(form);
    const auto cases = HttpContractCases();
    FaultServer server(HttpContractHandler(cases, secure));
    for (const auto& [name, bytes] : HttpContractPages(cases, server.Origin(), secure))
        WriteBytes(WinePath(pages + "/pages/" + name), bytes);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const HttpContractCase& c = cases[i];
        if (c.winInetCannotTell) continue;
        const std::string url = ContractUrl(c, i, server.Origin(), secure);
        WriteBytes(local, kEarlierFile);
        EXPECT_EQ(ContractDownload(form, url, local), ExpectedLog(c, url)) << c.what;
        EXPECT_EQ(ReadBytes(local), c.file) << c.what;
    }
    ::_putenv_s("QLR_HTTP_TIME_LIMIT", "");
    ::_putenv_s("QLR_HTTP_RESUME_PAUSE", "");
}

}  // namespace
}  // namespace qlr::testing
