// Downloads: the body stored byte for byte whatever the status, the
// displays and the gauge, the two messages of an address that cannot be
// used, and a transfer that breaks off reported instead of passed for whole.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "app/main.h"
#include "common/HttpContract.h"
#include "native/support/ScriptedPlatform.h"
#include "platform/sandbox/CurlHttp.h"

namespace qlr::testing {
namespace {

constexpr const char* kUrl = "http://updates.example/qlr/updates/QLR6-39.pak";
constexpr const char* kLocal = "C:\\Temp\\QLR\\QLR6-39.pak";

class Download : public ::testing::Test {
protected:
    void SetUp() override {
        machine.MakeFolders("C:\\Temp\\QLR");
        form.Memo3.Clear();
        form.ExpectedBytes = 10000000;
        form.ProgramStarted = false;
        form.f_progress = std::make_unique<Tf_progress>();
    }
    std::string Failure(const std::string& url = kUrl) {
        try {
            form.DownloadFile(url, kLocal);
        } catch (const RunError& error) {
            return error.what();
        }
        return "";
    }
    std::vector<std::string> Log() const { return CrLfLines(form.Memo3.Text()); }

    SandboxMachine machine;
    ScriptedPlatform http{machine.platform()};
    TForm1 form{http};
};

TEST_F(Download, BodyIsStoredInPiecesOf1025Bytes) {
    const std::string body = Incompressible(5000, 7);
    http.replies[kUrl] = {body};
    EXPECT_EQ(Failure(), "");
    EXPECT_EQ(machine.Read(kLocal), body);
    EXPECT_EQ(http.agents, std::vector<std::string>{"QLR"});
    ASSERT_FALSE(http.requested.empty());
    for (std::size_t n : http.requested) EXPECT_EQ(n, 1025u);
    EXPECT_EQ(http.requested.size(), 6u);  // five pieces and the read that ends it
    EXPECT_EQ(http.writes, std::vector<std::size_t>{5000}) << "the pieces reach the file in one write";
    EXPECT_EQ(form.BytesRead, 5000);
    EXPECT_EQ(form.Edit5.Text(), "5000");
    EXPECT_EQ(form.Edit7.Text(), "10000000");
    EXPECT_EQ(form.Edit8.Text(), "0");
    EXPECT_EQ(Log(), std::vector<std::string>{"Gauge = 0"});
}

TEST_F(Download, EmptyBodyGivesAnEmptyFile) {
    machine.Write(kLocal, "an earlier download");
    form.f_progress->Gauge1.SetProgress(12);
    http.replies[kUrl] = {""};
    EXPECT_EQ(Failure(), "");
    EXPECT_EQ(machine.Read(kLocal), "");
    EXPECT_EQ(form.Edit5.Text(), "0");
    EXPECT_EQ(form.Edit8.Text(), "0");
    EXPECT_EQ(form.f_progress->Gauge1.Progress(), 12);
    EXPECT_EQ(Log(), std::vector<std::string>{"Gauge = 12"});
}

TEST_F(Download, PercentageRunsPastHundredWhileTheGaugeStops) {
    struct Case {
        std::int32_t expected;
        std::size_t body;
        int start;
        const char* percentage;
        int gauge;
    };
    const Case cases[] = {
        {10000000, 5000000, 30, "50", 80},   {10000000, 7000000, 30, "70", 100}, {10000000, 15000000, 0, "150", 100},
        {20000000, 30000000, 0, "150", 100}, {20000000, 1000000, 0, "5", 5},
    };
    for (const Case& c : cases) {
        form.ExpectedBytes = c.expected;
        form.f_progress->Gauge1.SetProgress(c.start);
        http.replies[kUrl] = {std::string(c.body, 'z')};
        EXPECT_EQ(Failure(), "");
        EXPECT_EQ(form.Edit8.Text(), c.percentage) << c.body;
        EXPECT_EQ(form.f_progress->Gauge1.Progress(), c.gauge) << c.body;
        EXPECT_EQ(form.BytesRead, static_cast<std::int32_t>(c.body));
    }
}

TEST_F(Download, StartedApplicationLeavesTheGaugeAlone) {
    form.ProgramStarted = true;
    form.f_progress->Gauge1.SetProgress(7);
    http.replies[kUrl] = {std::string(5000000, 'z')};
    EXPECT_EQ(Failure(), "");
    EXPECT_EQ(form.f_progress->Gauge1.Progress(), 7);
    EXPECT_EQ(form.Edit8.Text(), "50");
    EXPECT_TRUE(Log().empty());
}

// Stands in for a native window: what it was told, and when it painted what.
class RecordingPeer final : public NativeControl {
public:
    explicit RecordingPeer(Platform& clock) : clock_(clock) {}
    void SetText(const std::string& text) override { texts.push_back(text); }
    void SetBounds(const Bounds&) override {}
    void Repaint() override { paints.push_back({clock_.TickMs(), texts.empty() ? "" : texts.back()}); }

    struct Paint {
        std::uint64_t ms;
        std::string shown;
    };
    std::vector<std::string> texts;
    std::vector<Paint> paints;

private:
    Platform& clock_;
};

TEST_F(Download, DisplaysPaintAboutThirtyTimesASecondEndingInTheFinalStateWhileTheGaugePaintsEachStep) {
    auto attach = [&](auto& control) {
        auto peer = std::make_unique<RecordingPeer>(http);
        RecordingPeer* seen = peer.get();
        control.AttachPeer(std::move(peer));
        return seen;
    };
    RecordingPeer* count = attach(form.Edit5);
    RecordingPeer* expected = attach(form.Edit7);
    RecordingPeer* percentage = attach(form.Edit8);
    RecordingPeer* gauge = attach(form.f_progress->Gauge1);
    form.Edit7.SetText("10000000");  // the window hears of it once
    http.msPerRead = 1;
    http.replies[kUrl].body = std::string(3000000, 'z');
    EXPECT_EQ(Failure(), "");
    const std::size_t reads = http.requested.size();
    ASSERT_GT(reads, 2900u);  // about three simulated seconds

    EXPECT_EQ(expected->texts, std::vector<std::string>{"10000000"});
    for (RecordingPeer* edit : {count, expected, percentage}) {
        const auto& paints = edit->paints;
        ASSERT_FALSE(paints.empty());
        // The last paint may follow a round at once; before it, at most 30 in any second.
        for (std::size_t i = 0; i + 31 < paints.size(); ++i)
            EXPECT_GE(paints[i + 30].ms - paints[i].ms, 1000u) << "paint " << i;
        EXPECT_GE(paints.size(), 80u);  // the user still sees the count move
        for (std::size_t i = 1; i < edit->texts.size(); ++i) EXPECT_NE(edit->texts[i], edit->texts[i - 1]);
    }
    EXPECT_EQ(count->paints.back().shown, "3000000");
    EXPECT_EQ(expected->paints.back().shown, "10000000");
    EXPECT_EQ(percentage->paints.back().shown, "30");
    EXPECT_EQ(form.Edit5.Text(), "3000000");

    std::vector<std::string> steps;
    for (int i = 1; i <= 30; ++i) steps.push_back(std::to_string(i) + "%");
    EXPECT_EQ(gauge->texts, steps);
    EXPECT_EQ(gauge->paints.size(), reads);
}

TEST_F(Download, AddressThatCannotBeUsedLeavesTheLocalFile) {
    machine.Write(kLocal, "from an earlier run");
    EXPECT_EQ(Failure(), std::string("Cannot open URL: ") + kUrl);
    EXPECT_EQ(machine.Read(kLocal), "from an earlier run");

    http.internetFails = true;
    EXPECT_EQ(Failure(), "Unable to initialize Wininet");
    EXPECT_EQ(machine.Read(kLocal), "from an earlier run");
}

TEST_F(Download, LocalFileThatCannotBeCreatedIsAFailedDownload) {
    http.replies[kUrl] = {"body"};
    machine.Write(kLocal, "from an earlier run");
    machine.Deny(std::string("file ") + kLocal);
    EXPECT_EQ(Failure(), std::string("Download failed: ") + kUrl);
    EXPECT_TRUE(http.requested.empty());  // nothing was read
}

TEST_F(Download, BrokenTransferIsAFailureNotAFile) {
    const std::string body = Incompressible(10000, 9);
    struct Case {
        const char* what;
        ScriptedReply reply;
        std::optional<std::int64_t> writeLimit;
    };
    const std::vector<Case> cases = {
        {"read fails part-way", {body, 4100}, std::nullopt},
        {"read fails at once", {body, 0}, std::nullopt},
        {"shorter than announced", {body, std::string::npos, 10001}, std::nullopt},
        {"write fails", {body}, 3000},
    };
    for (const Case& c : cases) {
        http.replies[kUrl] = c.reply;
        http.writeLimit = c.writeLimit;
        EXPECT_EQ(Failure(), std::string("Download failed: ") + kUrl) << c.what;
        EXPECT_FALSE(machine.Exists(kLocal)) << c.what;
    }
    // As long as announced, or more, is whole.
    http.writeLimit.reset();
    http.replies[kUrl] = {body, std::string::npos, 10000};
    EXPECT_EQ(Failure(), "");
    EXPECT_EQ(machine.Read(kLocal), body);
}

// ---- the contract both HTTP clients keep (the Windows suite runs the same table) ----

// scripts/tls-pages.sh for the length of one test.
class TlsPages {
public:
    TlsPages() {
        std::string pattern = (std::filesystem::temp_directory_path() / "qlr-tls-pages-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a folder for the TLS pages");
        folder_ = pattern;
        FILE* out = ::popen((Script() + " start " + folder_).c_str(), "r");
        char line[256] = {};
        if (!out || !std::fgets(line, sizeof line, out)) throw std::runtime_error("scripts/tls-pages.sh failed");
        ::pclose(out);
        base_ = line;
        base_.erase(base_.find_last_not_of("/\n") + 1);
    }
    ~TlsPages() {
        std::system((Script() + " stop " + folder_).c_str());
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    TlsPages(const TlsPages&) = delete;
    TlsPages& operator=(const TlsPages&) = delete;

    const std::string& Base() const { return base_; }  // https://localhost:PORT
    std::string Authority() const { return folder_ + "/certificates/ca.pem"; }
    void Write(const std::string& name, const std::string& bytes) const {
        std::ofstream(folder_ + "/pages/" + name, std::ios::binary) << bytes;
    }

private:
    static std::string Script() { return std::string(QLR_SOURCE_DIR) + "/scripts/tls-pages.sh"; }
    std::string folder_, base_;
};

TEST(HttpContract, CurlClientEndsEveryMisbehavingReplyAsAgreed) {
    ::setenv("QLR_HTTP_TIME_LIMIT", kContractTimeLimit, 1);
    ::setenv("QLR_HTTP_RESUME_PAUSE", kContractResumePause, 1);
    SandboxMachine machine;
    machine.MakeFolders("C:\\Temp\\QLR");
    TlsPages secure;
    std::filesystem::copy_file(secure.Authority(), machine.Root() / "trusted-roots.pem");
    TForm1 form{machine.platform()};
    PrepareContractForm(form);
    const auto cases = HttpContractCases();
    FaultServer server(HttpContractHandler(cases, secure.Base()));
    for (const auto& [name, bytes] : HttpContractPages(cases, server.Origin(), secure.Base()))
        secure.Write(name, bytes);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const HttpContractCase& c = cases[i];
        const std::string url = ContractUrl(c, i, server.Origin(), secure.Base());
        machine.Write(kLocal, kEarlierFile);
        EXPECT_EQ(ContractDownload(form, url, kLocal), ExpectedLog(c, url)) << c.what;
        if (c.file)
            EXPECT_EQ(machine.Exists(kLocal) ? machine.Read(kLocal) : "<no file>", *c.file) << c.what;
        else
            EXPECT_FALSE(machine.Exists(kLocal)) << c.what;
    }
    ::unsetenv("QLR_HTTP_TIME_LIMIT");
    ::unsetenv("QLR_HTTP_RESUME_PAUSE");
}

// A run whose download is cut keeps its bytes for the next run, which asks only for the rest,
// unless the record of what they are is damaged, too old or missing.
TEST(HttpContract, CutDownloadIsResumedByTheNextRunFromAnUpToDateRecord) {
    ::setenv("QLR_HTTP_RESUME_PAUSE", kContractResumePause, 1);
    const std::string body = ContractBody(300000);
    std::atomic<bool> serving{false};
    const std::string whole = HttpReply("200 OK", body, "ETag: \"v1\"\r\n");
    // Until serving, every reply is cut: the first after 5000 bytes, a request for the rest at once.
    FaultServer server([&](const std::string&, const std::string& head, const std::string&) {
        const bool rest = head.find("\r\nRange: bytes=5000-") != std::string::npos;
        if (serving) return rest ? Rest(body, 5000, 300000, "\"v1\"") : FaultReply(whole);
        return FaultReply(rest ? "" : whole.substr(0, whole.find("\r\n\r\n") + 4 + 5000), FaultReply::Then::Reset);
    });
    SandboxMachine machine;
    machine.MakeFolders("C:\\Temp\\QLR");
    TForm1 form{machine.platform()};
    PrepareContractForm(form);
    const std::string url = server.Origin() + "/QLR6-39.pak";
    const std::string partial = std::string(kLocal) + ".partial", record = partial + ".record";
    struct Case {
        const char* what;
        std::function<void()> spoil;
        const char* log;
    };
    const std::vector<Case> cases = {
        {"record as left", [] {}, "Gauge = 0\r\nDownload resumed at 5000 bytes\r\n"},
        {"damaged record", [&] { machine.Write(record, "not a record"); }, "Gauge = 0\r\n"},
        {"record of eight days ago",
         [&] {
             std::string text = machine.Read(record);
             machine.Write(record, text.substr(0, text.rfind("\r\n", text.size() - 3) + 2) + "01/01/2020 10:00:00\r\n");
         },
         "Gauge = 0\r\n"},
        {"no record", [&] { std::filesystem::remove(machine.Host(record)); }, "Gauge = 0\r\n"},
    };
    for (const Case& c : cases) {
        serving = false;
        ASSERT_EQ(ContractDownload(form, url, kLocal),
                  "Gauge = 0\r\nDownload resumed at 5000 bytes\r\nDownload failed: " + url)
            << c.what;
        EXPECT_EQ(machine.Read(partial), body.substr(0, 5000)) << c.what;
        c.spoil();
        serving = true;
        EXPECT_EQ(ContractDownload(form, url, kLocal), c.log) << c.what;
        EXPECT_EQ(machine.Exists(kLocal) ? machine.Read(kLocal) : "<no file>", body) << c.what;
        EXPECT_FALSE(machine.Exists(partial) || machine.Exists(record)) << c.what;
    }
    ::unsetenv("QLR_HTTP_RESUME_PAUSE");
}

// ---- libcurl against a loopback server ----------------------------------------

// The body; shortReads counts reads that gave less than asked before the end.
std::string ReadAll(HttpResponse& response, std::size_t piece, bool& failed, std::size_t& shortReads) {
    std::string body;
    std::vector<char> buffer(piece);
    std::size_t lastCount = piece;
    for (;;) {
        HttpRead read = response.Read(buffer.data(), piece);
        if (read.count > piece || (read.count > 0 && lastCount < piece)) ++shortReads;
        lastCount = read.count;
        if (read.count == 0) {
            failed = read.failed;
            return body;
        }
        body.append(buffer.data(), read.count);
    }
}

TEST(CurlHttp, BodyKeptWhateverTheStatusInWholePiecesOfWhatWasAsked) {
    const std::string big = Incompressible(300000, 11);
    FaultServer server([&](const std::string& path, const std::string&) {
        if (path == "/big") return FaultReply(HttpReply("200 OK", big));
        if (path == "/moved") return FaultReply(HttpReply("302 Found", "", "Location: /big\r\n"));
        return FaultReply(HttpReply("404 Not Found", "<html>no such page</html>"));
    });
    auto session = sandbox::OpenCurlSession("QLR");
    ASSERT_TRUE(session);
    struct Case {
        const char* path;
        const std::string& body;
    };
    const std::string missing = "<html>no such page</html>";
    for (const Case& c : {Case{"/big", big}, Case{"/nothing", missing}, Case{"/moved", big}}) {
        auto response = session->OpenUrl(server.Origin() + c.path);
        ASSERT_TRUE(response) << c.path;
        EXPECT_EQ(response->AnnouncedLength(), static_cast<std::int64_t>(c.body.size())) << c.path;
        bool failed = true;
        std::size_t shortReads = 0;
        EXPECT_EQ(ReadAll(*response, 1025, failed, shortReads), c.body) << c.path;
        EXPECT_FALSE(failed) << c.path;
        EXPECT_EQ(shortReads, 0u) << c.path;  // whole pieces of 1025 until the last, whatever the network did
    }
    const std::string head = server.Requests().front();
    EXPECT_NE(head.find("User-Agent: QLR\r\n"), std::string::npos) << head;
    EXPECT_NE(head.find("no-cache"), std::string::npos) << head;
    EXPECT_EQ(head.find("Accept-Encoding"), std::string::npos) << head;
}

TEST(CurlHttp, CutOffBodyIsAFailedRead) {
    const std::string part = Incompressible(5000, 12);
    FaultServer server([&](const std::string&, const std::string&) {
        return FaultReply("HTTP/1.1 200 OK\r\nContent-Length: 20000\r\nConnection: close\r\n\r\n" + part);
    });
    auto response = sandbox::OpenCurlSession("QLR")->OpenUrl(server.Origin() + "/x");
    ASSERT_TRUE(response);
    EXPECT_EQ(response->AnnouncedLength(), 20000);
    bool failed = false;
    std::size_t shortReads = 0;
    EXPECT_EQ(ReadAll(*response, 1025, failed, shortReads), part);
    EXPECT_TRUE(failed);
}

TEST(CurlHttp, NothingListeningCannotBeOpened) {
    auto session = sandbox::OpenCurlSession("QLR");
    EXPECT_EQ(session->OpenUrl(kUnreachableServer), nullptr);
    EXPECT_EQ(session->OpenUrl("http://name.invalid/"), nullptr);
    // A redirect to a place where nothing listens cannot be opened either.
    FaultServer server([](const std::string&, const std::string&) {
        return FaultReply(HttpReply("302 Found", "", std::string("Location: ") + kUnreachableServer + "\r\n"));
    });
    EXPECT_EQ(session->OpenUrl(server.Origin() + "/"), nullptr);
}

}  // namespace
}  // namespace qlr::testing
