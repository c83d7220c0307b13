#include "Report.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace qlr::server {

namespace {

constexpr int kMaxChartDays = 400;

std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

// Bars, one per day from `first` to `last`; an optional running total as a line.
std::string Chart(const std::map<int, std::size_t>& values, int first, int last, bool cumulative,
                  const std::string& title) {
    const int days = last - first + 1;
    const int width = 720, height = 180, left = 40, bottom = 20, top = 10;
    std::size_t most = 1, running = 0, total = 0;
    for (const auto& [day, count] : values) {
        if (day < first || day > last) continue;
        most = std::max(most, count);
        total += count;
    }
    const std::size_t scale = cumulative ? std::max(most, total) : most;
    const double step = static_cast<double>(width - left) / days;
    const double plot = height - bottom - top;
    std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(width) + "\" height=\"" +
                      std::to_string(height) + "\" role=\"img\" aria-label=\"" + Escaped(title) + "\">";
    char text[256];
    std::snprintf(text, sizeof text,
                  "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"#888\"/>"
                  "<text x=\"%d\" y=\"%d\" font-size=\"11\" text-anchor=\"end\">%zu</text>"
                  "<text x=\"%d\" y=\"%d\" font-size=\"11\" text-anchor=\"end\">0</text>",
                  left, height - bottom, width, height - bottom, left - 4, top + 10, scale, left - 4, height - bottom);
    svg += text;
    std::string line;
    for (int day = first; day <= last; ++day) {
        auto found = values.find(day);
        const std::size_t count = found == values.end() ? 0 : found->second;
        running += count;
        const double x = left + (day - first) * step;
        const double h = plot * static_cast<double>(count) / static_cast<double>(scale);
        std::snprintf(text, sizeof text,
                      "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"#3b7dd8\">"
                      "<title>%s: %zu</title></rect>",
                      x + step * 0.1, height - bottom - h, step * 0.8, h, DayText(day).c_str(), count);
        svg += text;
        if (cumulative) {
            std::snprintf(text, sizeof text, "%s%.1f,%.1f", line.empty() ? "" : " ", x + step / 2,
                          height - bottom - plot * static_cast<double>(running) / static_cast<double>(scale));
            line += text;
        }
    }
    if (cumulative) svg += "<polyline fill=\"none\" stroke=\"#d8553b\" stroke-width=\"2\" points=\"" + line + "\"/>";
    std::snprintf(text, sizeof text,
                  "<text x=\"%d\" y=\"%d\" font-size=\"11\">%s</text>"
                  "<text x=\"%d\" y=\"%d\" font-size=\"11\" text-anchor=\"end\">%s</text></svg>",
                  left, height - 4, DayText(first).c_str(), width, height - 4, DayText(last).c_str());
    return svg + text;
}

}  // namespace

std::string Report::Html() const {
    const Totals totals = Counts();
    const bool empty = seen_.empty() && got_.empty();
    int first = std::numeric_limits<int>::max(), last = std::numeric_limits<int>::min();
    if (!seen_.empty()) {
        first = seen_.begin()->first;
        last = seen_.rbegin()->first;
    }
    for (const auto& [package, days] : got_) {
        first = std::min(first, days.begin()->first);
        last = std::max(last, days.rbegin()->first);
    }
    const int chartFirst = empty ? 0 : std::max(first, last - kMaxChartDays + 1);

    std::string html =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>Check-in report</title>"
        "<style>body{font-family:sans-serif;margin:2em;color:#222}table{border-collapse:collapse;margin:.5em 0}"
        "td,th{border:1px solid #ccc;padding:2px 8px;text-align:left}td.n{text-align:right}"
        "h2{margin-top:1.5em}svg{display:block;margin:.5em 0}</style></head><body>\n<h1>Check-in report</h1>\n";
    html += empty ? "<p id=\"period\">No check-ins in the logs.</p>\n"
                  : "<p id=\"period\">From " + DayText(first) + " to " + DayText(last) + ".</p>\n";
    auto row = [](const std::string& id, const std::string& label, std::uint64_t value) {
        return "<tr><th>" + label + "</th><td class=\"n\" id=\"" + id + "\">" + std::to_string(value) + "</td></tr>\n";
    };
    html += "<h2>Totals</h2>\n<table>\n" + row("total-schools", "Schools seen", totals.schools) +
            row("total-checkins", "Check-ins", totals.checkIns) +
            row("total-downloads", "Complete package downloads", totals.downloads) +
            row("total-incomplete", "Incomplete package downloads", totals.incomplete) +
            row("total-uncredited", "Downloads without a check-in from the same address", totals.uncredited) +
            row("total-lines", "Log lines", totals.lines) +
            row("total-damaged", "Damaged log lines skipped", totals.damaged) + "</table>\n";

    if (!empty) {
        std::map<int, std::size_t> perDay;
        for (const auto& [day, schools] : seen_) perDay[day] = schools.size();
        html += "<h2>Schools seen per day</h2>\n" + Chart(perDay, chartFirst, last, false, "Schools seen per day") +
                "\n<details><summary>By day</summary><table id=\"seen\"><tr><th>Day</th><th>Schools</th></tr>\n";
        for (const auto& [day, count] : perDay)
            html += "<tr><td>" + DayText(day) + "</td><td class=\"n\">" + std::to_string(count) + "</td></tr>\n";
        html += "</table></details>\n";
    }

    html += "<h2>Schools that downloaded each package</h2>\n";
    if (got_.empty()) html += "<p>No complete package downloads.</p>\n";
    for (const auto& [package, days] : got_) {
        std::map<int, std::size_t> perDay;
        std::set<int> all;
        for (const auto& [day, schools] : days) {
            perDay[day] = schools.size();
            all.insert(schools.begin(), schools.end());
        }
        const std::string id = "package-" + Escaped(package);
        html += "<h3 id=\"" + id + "\">" + Escaped(package) + ": <span class=\"schools\">" +
                std::to_string(all.size()) + "</span> schools</h3>\n" +
                Chart(perDay, chartFirst, last, true, package + ": schools per day, and in all") +
                "\n<p>Bars: schools that downloaded it that day. Line: schools that have it.</p>\n<details><summary>By "
                "day</summary><table class=\"package\"><tr><th>Day</th><th>Schools</th></tr>\n";
        for (const auto& [day, count] : perDay)
            html += "<tr><td>" + DayText(day) + "</td><td class=\"n\">" + std::to_string(count) + "</td></tr>\n";
        html += "</table></details>\n";
    }

    std::vector<const School*> quiet;
    for (const School& school : schools_)
        if (school.lastDay <= last - quietDays_) quiet.push_back(&school);
    std::sort(quiet.begin(), quiet.end(), [](const School* a, const School* b) {
        return a->lastDay != b->lastDay ? a->lastDay < b->lastDay : a->name < b->name;
    });
    html += "<h2>Schools not seen in the last " + std::to_string(quietDays_) + " days</h2>\n<p id=\"quiet-count\">" +
            std::to_string(quiet.size()) + " schools</p>\n";
    if (!quiet.empty()) {
        html += "<table id=\"quiet\"><tr><th>School</th><th>SMSID</th><th>Last seen</th></tr>\n";
        for (const School* school : quiet)
            html += "<tr><td>" + Escaped(school->name) + "</td><td>" + Escaped(school->smsid) + "</td><td>" +
                    DayText(school->lastDay) + "</td></tr>\n";
        html += "</table>\n";
    }
    return html + "</body></html>\n";
}

}  // namespace qlr::server
