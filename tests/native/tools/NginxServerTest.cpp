// Serving at scale: qlr-server and nginx (deploy/nginx/qlr.conf) over one
// folder answer every school alike, staged rollouts and byte ranges included; whole updates
// run against nginx; both servers' check-in logs read back alike.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "LogRecord.h"
#include "native/support/ScriptedPlatform.h"

namespace qlr::testing {
namespace {

namespace fs = std::filesystem;

class BothServers : public ::testing::Test {
protected:
    void Put(const std::string& name, const std::string& bytes) { qlr.Put(name, bytes); }
    void Rollout(const std::string& text) { std::ofstream(qlr.Folder() / "rollout.txt", std::ios::trunc) << text; }
    Outcome Publish() { return QlrServer("publish " + Quoted(qlr.Folder().string())); }

    PackageServer qlr;
    NginxServer nginx{qlr.Folder()};
};

struct School {
    std::string query;  // as the client sends it
};

std::vector<School> Schools() {
    std::vector<School> schools;
    for (int i = 0; i < 1000; ++i) {
        if (i % 3 == 0)  // no SMSID: placed by its name, as sent
            schools.push_back({"School=Sch%C3%B6ol%20" + std::to_string(i) + "%20%26%20Co&SMSID=x&USER=office"});
        else
            schools.push_back({"School=x&SMSID=" + std::to_string(100000 + i * 7) + "&USER=office"});
    }
    // Keys whose hash lies exactly on the edge of bucket 73 (MurmurHash2 3135326055 and 3135326056).
    schools.push_back({"School=x&SMSID=S182701758&USER=office"});
    schools.push_back({"School=x&SMSID=S4698567&USER=office"});
    // Argument names in another case, as nginx's $arg_ matches them.
    schools.push_back({"school=y&smsid=77&user=office"});
    return schools;
}

TEST_F(BothServers, EveryStepOfARolloutIsAnsweredAlikeAndOnlyAddsSchools) {
    Put("Foundation.pak", std::string(600, 'f'));
    Put("QLR6-39.pak", std::string(700, 'a'));
    Put("QLR6-40.pak", std::string(800, 'b'));
    Put("QLR6-41.pak", std::string(900, 'c'));
    const auto schools = Schools();
    const std::size_t edgeBelow = 1000, edgeAt = 1001;
    std::set<std::size_t> hadQlr40, hadQlr41;
    bool first = true;
    for (int percent : {0, 10, 25, 60, 73, 100}) {
        SCOPED_TRACE("QLR6-40 at " + std::to_string(percent) + "%");
        Rollout("# QLR6-41 goes to half of the schools throughout\nQLR6-40 " + std::to_string(percent) +
                "\nQLR6-41.pak 50%\n");
        ASSERT_EQ(Publish().status, 0);
        std::set<std::size_t> qlr40, qlr41;
        for (std::size_t i = 0; i < schools.size(); ++i) {
            const std::string list = Get(qlr.BaseUrl() + "index.php?" + schools[i].query);
            ASSERT_EQ(Get(nginx.BaseUrl() + "index.php?" + schools[i].query), list) << schools[i].query;
            ASSERT_TRUE(list.starts_with("Foundation.pak 600\r\nQLR6-39.pak 700\r\n")) << list;
            if (list.find("QLR6-40.pak 800\r\n") != std::string::npos) qlr40.insert(i);
            if (list.find("QLR6-41.pak 900\r\n") != std::string::npos) qlr41.insert(i);
        }
        const double share = 100.0 * static_cast<double>(qlr40.size()) / static_cast<double>(schools.size());
        EXPECT_NEAR(share, percent, percent == 0 || percent == 100 ? 0.0 : 6.0);
        EXPECT_TRUE(std::includes(qlr40.begin(), qlr40.end(), hadQlr40.begin(), hadQlr40.end()));
        if (!first) {
            EXPECT_EQ(qlr41, hadQlr41);  // moving one package moves no school of another
        }
        EXPECT_NEAR(100.0 * static_cast<double>(qlr41.size()) / static_cast<double>(schools.size()), 50, 6.0);
        if (percent == 73) {
            EXPECT_TRUE(qlr40.contains(edgeBelow));
            EXPECT_FALSE(qlr40.contains(edgeAt));
        }
        hadQlr40 = qlr40;
        hadQlr41 = qlr41;
        first = false;
    }
}

TEST_F(BothServers, PublishReportsBadRolloutLinesAndKeepsTheLastGoodLists) {
    Put("QLR6-39.pak", std::string(700, 'a'));
    Put("QLR6-40.pak", std::string(800, 'b'));
    Rollout("QLR6-40 0\n");
    ASSERT_EQ(Publish().status, 0);
    const std::string held = "QLR6-39.pak 700\r\n";
    const std::string query = "index.php?School=x&SMSID=5&USER=office";
    ASSERT_EQ(Get(nginx.BaseUrl() + query), held);
    struct Case {
        std::string rollout;
        int status;
        std::string message;
    };
    for (const Case& c : std::vector<Case>{
             {"QLR6-40 0\nQLR6-93 10\n", 0, "rollout.txt line 2: no package QLR6-93.pak in updates/"},
             {"QLR6-40 0\nQLR6-41 101\n", 1, "rollout.txt line 2: the percentage must be a whole number"},
             {"QLR6-40 2O\n", 1, "rollout.txt line 1: the percentage must be a whole number from 0 to 100"},
             {"\n# staged\nQLR6-40\n", 1, "rollout.txt line 3: expected \"NAME PERCENT\""},
             {"QLR6-40 0\nQLR6-40.pak 20\n", 1, "rollout.txt line 2: \"QLR6-40\" is staged twice"},
         }) {
        Rollout(c.rollout);
        Outcome published = Publish();
        EXPECT_EQ(published.status, c.status) << c.rollout << published.output;
        EXPECT_NE(published.output.find(c.message), std::string::npos) << published.output;
        // Neither server starts offering the held-back package.
        EXPECT_EQ(Get(nginx.BaseUrl() + query), held) << c.rollout;
        EXPECT_EQ(Get(qlr.BaseUrl() + query), held) << c.rollout;
    }
}

TEST_F(BothServers, ServeTheSamePackagesAndRefuseTheSameAddresses) {
    const std::string package = Incompressible(2 * 1024 * 1024 + 5, 41);
    Put("QLR6-39.pak", package);
    Put("readme.txt", "not a package");
    ASSERT_EQ(Publish().status, 0);
    for (const NginxServer* n : {&nginx}) {
        EXPECT_EQ(Get(n->BaseUrl() + "updates/QLR6-39.pak"), package);
        for (const char* path : {"updates/QLR6-40.pak", "updates/..%2Fcheckins.log", "updates/readme.txt", "updates/",
                                 "rollout.txt", "published/index-00.txt", "checkins.log", "index.html"}) {
            EXPECT_NE(Get(n->BaseUrl() + path).find("404 Not Found"), std::string::npos) << path;
            EXPECT_NE(Get(qlr.BaseUrl() + path).find("404 Not Found"), std::string::npos) << path;
        }
    }
}

// A reply as curl received it; header names in lower case.
struct Answer {
    int status = 0;
    std::map<std::string, std::string> headers;
    std::string body;
};

Answer Fetch(const std::string& url, const std::vector<std::string>& headers = {}, const std::string& options = "") {
    std::string command = "curl -sS -i --max-time 20 " + options;
    for (const auto& header : headers) command += " -H " + Quoted(header);
    const std::string raw = Shell(command + " " + Quoted(url)).output;
    Answer answer;
    const auto end = raw.find("\r\n\r\n");
    if (end == std::string::npos || raw.size() < 12) return answer;
    answer.status = std::atoi(raw.c_str() + 9);
    std::stringstream head(raw.substr(0, end));
    for (std::string line; std::getline(head, line);) {
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string name = line.substr(0, colon);
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
        if (line.ends_with('\r')) line.pop_back();
        answer.headers[name] = line.substr(colon + 2);
    }
    answer.body = raw.substr(end + 4);
    return answer;
}

TEST_F(BothServers, AnswerRangesAlikeAndOnlyOfTheSameFile) {
    const std::string package = Incompressible(1024 * 1024 + 7, 42);
    const std::string size = std::to_string(package.size()), lastByte = std::to_string(package.size() - 1);
    Put("QLR6-39.pak", package);
    const std::string pak = "updates/QLR6-39.pak";
    Answer whole = Fetch(qlr.BaseUrl() + pak), wholeNginx = Fetch(nginx.BaseUrl() + pak);
    ASSERT_EQ(whole.status, 200);
    EXPECT_EQ(whole.body, package);
    EXPECT_EQ(whole.headers.at("accept-ranges"), "bytes");
    // The same validators: a download begun at one server resumes at the other.
    const std::string tag = whole.headers.at("etag"), date = whole.headers.at("last-modified");
    EXPECT_EQ(tag, wholeNginx.headers["etag"]);
    EXPECT_EQ(date, wholeNginx.headers["last-modified"]);
    struct Case {
        const char* what;
        std::vector<std::string> headers;
        int status;
        std::size_t first, length;
        std::string contentRange;
    };
    const std::size_t n = package.size();
    const Case cases[] = {
        {"the rest", {"Range: bytes=1000-"}, 206, 1000, n - 1000, "bytes 1000-" + lastByte + "/" + size},
        {"a part", {"Range: bytes=10-19"}, 206, 10, 10, "bytes 10-19/" + size},
        {"cut at the end",
         {"Range: bytes=" + std::to_string(n - 5) + "-" + std::to_string(n + 100)},
         206,
         n - 5,
         5,
         "bytes " + std::to_string(n - 5) + "-" + lastByte + "/" + size},
        {"the last bytes",
         {"Range: bytes=-100"},
         206,
         n - 100,
         100,
         "bytes " + std::to_string(n - 100) + "-" + lastByte + "/" + size},
        {"same tag",
         {"Range: bytes=1000-", "If-Range: " + tag},
         206,
         1000,
         n - 1000,
         "bytes 1000-" + lastByte + "/" + size},
        {"same date",
         {"Range: bytes=1000-", "If-Range: " + date},
         206,
         1000,
         n - 1000,
         "bytes 1000-" + lastByte + "/" + size},
        {"another file's tag", {"Range: bytes=1000-", "If-Range: \"5f000000-10\""}, 200, 0, n, ""},
        {"a weak tag", {"Range: bytes=1000-", "If-Range: W/" + tag}, 200, 0, n, ""},
        {"another date", {"Range: bytes=1000-", "If-Range: Sat, 01 Jan 2000 00:00:00 GMT"}, 200, 0, n, ""},
        {"another unit", {"Range: items=0-1"}, 200, 0, n, ""},
        {"from the end on", {"Range: bytes=" + size + "-"}, 416, 0, 0, "bytes */" + size},
        {"none of the last bytes", {"Range: bytes=-0"}, 416, 0, 0, "bytes */" + size},
    };
    for (const std::string& base : {qlr.BaseUrl(), nginx.BaseUrl()}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + " from " + base);
            Answer answer = Fetch(base + pak, c.headers);
            EXPECT_EQ(answer.status, c.status);
            EXPECT_EQ(answer.headers["content-range"], c.contentRange);
            if (c.status == 416) continue;
            EXPECT_EQ(answer.headers["etag"], tag);
            EXPECT_EQ(answer.headers["last-modified"], date);
            EXPECT_TRUE(answer.body == package.substr(c.first, c.length)) << answer.body.size() << " bytes";
        }
    }
    // Each part is logged as what went out.
    const std::string log = qlr.Log(2 + std::size(cases));
    EXPECT_NE(log.find("\tStatus=206\tBytes=" + std::to_string(n - 1000) + "\tComplete=OK\n"), std::string::npos)
        << log;
    EXPECT_NE(log.find("\tStatus=206\tBytes=10\tComplete=OK\n"), std::string::npos) << log;
    EXPECT_NE(log.find("\tStatus=416\tBytes=0\tComplete=\n"), std::string::npos) << log;
}

TEST(BothServersTls, ServeListsAndRangesOverHttpsWithACertificate) {
    PackageServer plain;
    const std::string certificates = (plain.Folder() / "tls").string();
    ASSERT_EQ(Shell(Quoted(std::string(QLR_SOURCE_DIR) + "/scripts/test-certificates.sh") + " " + Quoted(certificates))
                  .status,
              0);
    const std::string package = Incompressible(300000, 43);
    plain.Put("QLR6-39.pak", package);
    ASSERT_EQ(QlrServer("publish " + Quoted(plain.Folder().string())).status, 0);
    PackageServer qlr(plain.Folder(), certificates);
    NginxServer nginx(plain.Folder(), certificates + "/server.pem", certificates + "/server-key.pem");
    const std::string trusting = "--cacert " + Quoted(certificates + "/ca.pem");
    for (const std::string& base : {qlr.BaseUrl(), nginx.BaseUrl()}) {
        SCOPED_TRACE(base);
        ASSERT_TRUE(base.starts_with("https://localhost:"));
        EXPECT_EQ(Fetch(base + "index.php?School=x&SMSID=x&USER=a", {}, trusting).body, "QLR6-39.pak 300000\r\n");
        const Answer part = Fetch(base + "updates/QLR6-39.pak", {"Range: bytes=100-"}, trusting);
        EXPECT_EQ(part.status, 206);
        EXPECT_TRUE(part.body == package.substr(100)) << part.body.size() << " bytes";
        Outcome refused = Shell("curl -sS --max-time 20 " + Quoted(base + "index.php"));
        EXPECT_NE(refused.status, 0);  // an unknown certificate is not trusted
    }
}

// ---- whole updates ------------------------------------------------------------

constexpr const char* kStartup = "C:\\TSLData\\QLR\\Tovanel.exe";

std::vector<server::LogRecord> Records(const std::string& log) {
    std::vector<server::LogRecord> records;
    std::stringstream text(log);
    for (std::string line; std::getline(text, line);) {
        auto record = server::ParseLogLine(line);
        EXPECT_TRUE(record) << line;
        if (record) records.push_back(*record);
    }
    return records;
}

TEST_F(BothServers, WholeUpdateRunsAgainstNginxAndBothLogsAgree) {
    const std::string program = FileBytes(BuiltProgram("standin"));
    Put("QLR6-38.pak", Padded(PackageBytes({{"C:\\TSLData\\QLR\\QLR6-38.exe", "6-38"}})));
    Put("QLR6-39.pak", PackageBytes({{"C:\\TSLData\\QLR\\QLR6-39.exe", program}}));
    ASSERT_EQ(Publish().status, 0);
    std::vector<std::string> logs;
    for (const std::string& environment : {nginx.Environment(), qlr.Environment()}) {
        SandboxMachine machine;
        machine.PlaceFoundation();
        machine.PlaceStandin("C:\\TSLData\\QLR\\QLR6-38.exe");
        machine.PlaceStandin("C:\\TSLData\\QLR\\Shifter.exe");
        machine.Write("c:\\TSLData\\office\\QLR\\Options.txt", "SchoolName=A&B Schöol #1\r\nSMSID=x\r\n");
        auto result = machine.Run(kStartup, {environment});
        EXPECT_EQ(result.exitCode, 0) << result.output;
        ASSERT_TRUE(machine.WaitForLog("Startup"));
        const std::string log = machine.Log("Startup");
        EXPECT_NE(log.find("Have: 6-38   Available from cloud: 6-39"), std::string::npos) << log;
        EXPECT_NE(log.find("\r\n... OK\r\n"), std::string::npos) << log;
        EXPECT_EQ(machine.Read("C:\\TSLData\\QLR\\QLR6-39.exe"), program) << environment;
    }
    const auto fromNginx = Records(nginx.Log());
    const auto fromQlr = Records(qlr.Log(2));
    ASSERT_EQ(fromNginx.size(), 2u) << nginx.Log();
    ASSERT_EQ(fromQlr.size(), 2u) << qlr.Log(2);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(fromNginx[i].kind, fromQlr[i].kind);
        EXPECT_EQ(fromNginx[i].address, fromQlr[i].address);
        EXPECT_EQ(fromNginx[i].school, fromQlr[i].school);
        EXPECT_EQ(fromNginx[i].smsid, fromQlr[i].smsid);
        EXPECT_EQ(fromNginx[i].user, fromQlr[i].user);
        EXPECT_EQ(fromNginx[i].package, fromQlr[i].package);
        EXPECT_EQ(fromNginx[i].status, fromQlr[i].status);
        EXPECT_EQ(fromNginx[i].complete, fromQlr[i].complete);
        EXPECT_LE(std::abs(fromNginx[i].day - fromQlr[i].day), 1);
    }
    EXPECT_EQ(fromQlr[0].school, "A&B Schöol #1");
    EXPECT_EQ(fromQlr[1].package, "QLR6-39.pak");
    EXPECT_TRUE(fromQlr[1].complete);
}

}  // namespace
}  // namespace qlr::testing
