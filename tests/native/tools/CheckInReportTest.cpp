// The check-in report: counts from logs of both servers whose truth is known,
// damaged lines skipped and counted, and the page as a browser shows it.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "native/support/ScriptedPlatform.h"

namespace qlr::testing {
namespace {

namespace fs = std::filesystem;

constexpr int kDays = 30, kSchools = 40;

// Last day school s checks in: 30 schools every day, 10 that stop on days 15 to 24.
int LastDay(int s) { return s < 30 ? kDays - 1 : 15 + (s - 30); }

std::string Day(int d) {
    char text[32];
    std::snprintf(text, sizeof text, "2026-11-%02d", d + 1);
    return text;
}

// A line as qlr-server (decoded values) or nginx (values as sent) writes it.
std::string CheckIn(bool nginx, int d, int minute, int s) {
    char time[40];
    std::snprintf(time, sizeof time, nginx ? "%sT08:%02d:00+01:00" : "%s 08:%02d:00", Day(d).c_str(), minute);
    const bool named = s % 2 == 1;  // odd schools have no SMSID
    const std::string school =
        named ? (nginx ? "Odd%20School%20" : "Odd School ") + std::to_string(s) + (nginx ? "%20%26%20Co" : " & Co")
              : "x";
    return std::string(time) + "\t10.0." + std::to_string(s) + ".1\tSchool=" + school +
           "\tSMSID=" + (named ? "x" : "ID" + std::to_string(s)) + "\tUSER=office";
}

std::string Download(bool nginx, int d, int minute, const std::string& address, const std::string& status,
                     bool complete) {
    char time[40];
    std::snprintf(time, sizeof time, nginx ? "%sT08:%02d:30+01:00" : "%s 08:%02d:30", Day(d).c_str(), minute);
    return std::string(time) + "\t" + address + "\tPackage=QLR6-40.pak\tStatus=" + status +
           "\tBytes=9000\tComplete=" + (complete ? "OK" : "");
}

class ReportOfAMonth : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "qlr-report-XXXXXX").string();
        ASSERT_TRUE(mkdtemp(pattern.data()));
        dir = pattern;
        // Even days' check-ins in qlr-server's log, odd days' in nginx's; each
        // download in the other log, so crediting works across servers.
        std::ofstream qlrLog(dir / "checkins.log", std::ios::binary), nginxLog(dir / "nginx.log", std::ios::binary);
        qlrLog << "garbage\n"
               << std::string(100 * 1024, 'x') << "\n"
               << "2026-13-01 00:00:00\t1.2.3.4\tSchool=a\tSMSID=b\tUSER=c\n";
        nginxLog << "2026-11-01T00:00:00+01:00\t10.0.0.1\tSchool=x\n"
                 << "2026-11-01T00:00:01+01:00\t10.0.0.1\tPackage=QLR6-40.pak\tStatus=2x0\tBytes=1\tComplete=OK\n";
        for (int d = 0; d < kDays; ++d) {
            std::ofstream& checkIns = d % 2 ? nginxLog : qlrLog;
            std::ofstream& downloads = d % 2 ? qlrLog : nginxLog;
            for (int s = 0; s < kSchools; ++s) {
                if (d > LastDay(s)) continue;
                checkIns << CheckIn(d % 2, d, s, s) << "\n";
                if (s < 20 && d == s % 10 + 1)
                    downloads << Download(d % 2 == 0, d, s, "10.0." + std::to_string(s) + ".1", "200", true) << "\n";
            }
            checkIns << CheckIn(d % 2, d, 50, 0) << "\n";  // school 0 checks in twice a day
        }
        qlrLog << Download(false, 29, 55, "10.0.0.1", "200", true) << "\n"   // a second one, same day
               << Download(false, 29, 56, "10.9.9.9", "200", true) << "\n"   // no check-in from there
               << Download(false, 29, 57, "10.0.3.1", "200", false) << "\n"  // cut short
               << Download(false, 29, 58, "10.0.4.1", "404", false) << "\n"  // not there
               << Download(false, 29, 59, "10.0.5.1", "206", true) << "\n";  // the rest of a resumed one
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string Logs() const {
        return Quoted((dir / "checkins.log").string()) + " " + Quoted((dir / "nginx.log").string());
    }

    fs::path dir;
};

// The text of the element with that id, as the browser shows it.
std::string Shown(const std::string& dom, const std::string& id) {
    const std::string mark = "id=\"" + id + "\"";
    auto at = dom.find(mark);
    if (at == std::string::npos) return "<no " + id + ">";
    at = dom.find('>', at) + 1;
    return dom.substr(at, dom.find('<', at) - at);
}

TEST_F(ReportOfAMonth, BrowserShowsTheCountsTheLogsHold) {
    const std::string page = (dir / "report.html").string();
    Outcome made = QlrServer("report --days 7 --output " + Quoted(page) + " " + Logs());
    ASSERT_EQ(made.status, 0) << made.output;
    EXPECT_NE(made.output.find("skipped 5 damaged log lines"), std::string::npos) << made.output;

    const fs::path profile = dir / "profile";
    Outcome shown = Shell(
        "timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-background-networking "
        "--disable-component-update --disable-sync --no-first-run --user-data-dir=" +
        Quoted(profile.string()) + " --dump-dom " + Quoted("file://" + page) + " 2>/dev/null");
    ASSERT_EQ(shown.status, 0) << shown.output;
    const std::string& dom = shown.output;

    int checkIns = kDays;  // school 0's second check-in of each day
    for (int s = 0; s < kSchools; ++s) checkIns += LastDay(s) + 1;
    EXPECT_EQ(Shown(dom, "total-schools"), std::to_string(kSchools));
    EXPECT_EQ(Shown(dom, "total-checkins"), std::to_string(checkIns));
    EXPECT_EQ(Shown(dom, "total-downloads"), "23");
    EXPECT_EQ(Shown(dom, "total-uncredited"), "1");
    EXPECT_EQ(Shown(dom, "total-incomplete"), "1");
    EXPECT_EQ(Shown(dom, "total-damaged"), "5");
    EXPECT_EQ(Shown(dom, "total-lines"), std::to_string(checkIns + 20 + 5 + 5));
    EXPECT_EQ(Shown(dom, "period"), "From 2026-11-01 to 2026-11-30.");
    // Schools 30 to 37 were last seen on days 15 to 22, more than 7 days before the last.
    EXPECT_EQ(Shown(dom, "quiet-count"), "8 schools");
    EXPECT_NE(dom.find("<td>Odd School 31 &amp; Co</td><td>x</td><td>2026-11-17</td>"), std::string::npos);
    EXPECT_NE(dom.find("<td>ID30</td><td>2026-11-16</td>"), std::string::npos);
    EXPECT_EQ(dom.find("ID38"), std::string::npos);
    // Day 20 (2026-11-21): 30 daily schools and the 5 that stop on day 20 or later.
    EXPECT_NE(dom.find("<tr><td>2026-11-21</td><td class=\"n\">35</td></tr>"), std::string::npos);
    EXPECT_NE(dom.find("QLR6-40.pak: <span class=\"schools\">20</span> schools"), std::string::npos);
    EXPECT_NE(dom.find("<tr><td>2026-11-04</td><td class=\"n\">2</td></tr>"), std::string::npos);
    // One page: charts inline, nothing fetched, nothing run.
    const std::string html = FileBytes(page);
    EXPECT_NE(html.find("<svg"), std::string::npos);
    for (const char* outside : {"<script", "src=", "href=", "<link", "url("})
        EXPECT_EQ(html.find(outside), std::string::npos) << outside;
}

TEST_F(ReportOfAMonth, LogOfOnlyDamagedLinesStillMakesAPage) {
    std::ofstream(dir / "junk.log", std::ios::binary) << "junk\n\n" << std::string(5000, '\t') << "\n";
    Outcome made = QlrServer("report " + Quoted((dir / "junk.log").string()));
    EXPECT_EQ(made.status, 0) << made.output;
    EXPECT_NE(made.output.find("No check-ins in the logs."), std::string::npos) << made.output;
    EXPECT_NE(made.output.find("id=\"total-damaged\">2<"), std::string::npos) << made.output;
}

TEST_F(ReportOfAMonth, MissingLogIsAnErrorAndNoLogIsBadUsage) {
    Outcome missing = QlrServer("report " + Logs() + " " + Quoted((dir / "nothing.log").string()));
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.output.find("cannot open"), std::string::npos) << missing.output;
    EXPECT_EQ(QlrServer("report --days 7").status, 2);
    EXPECT_EQ(QlrServer("report --days 0 " + Logs()).status, 2);
}

}  // namespace
}  // namespace qlr::testing
