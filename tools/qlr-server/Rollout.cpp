#include "Rollout.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <set>

#include "MurmurHash2.h"

namespace qlr::server {

namespace {

constexpr std::uintmax_t kMaxRolloutBytes = std::uintmax_t{1024} * 1024;
// split_clients cuts the hash range at multiples of 0.01% of 2^32, truncated.
constexpr std::uint32_t kBucketWidth = 42949672;

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::vector<Stage> ReadRollout(const std::filesystem::path& file) {
    std::error_code error;
    if (!std::filesystem::exists(file, error)) return {};
    const std::string where = file.filename().string();
    if (std::filesystem::file_size(file, error) > kMaxRolloutBytes) throw RolloutError(where + ": larger than 1 MiB");
    std::ifstream in(file, std::ios::binary);
    if (!in) throw RolloutError(where + ": cannot be read");
    std::vector<Stage> stages;
    std::set<std::string> seen;
    int number = 0;
    for (std::string raw; std::getline(in, raw);) {
        ++number;
        const std::string line = Trimmed(raw);
        if (line.empty() || line[0] == '#') continue;
        const std::string at = where + " line " + std::to_string(number) + ": ";
        const auto blank = line.find_first_of(" \t");
        if (blank == std::string::npos) throw RolloutError(at + "expected \"NAME PERCENT\", got \"" + line + "\"");
        Stage stage;
        stage.line = number;
        stage.package = line.substr(0, blank);
        if (stage.package.ends_with(".pak")) stage.package.resize(stage.package.size() - 4);
        std::string percent = Trimmed(line.substr(blank));
        if (percent.ends_with('%')) percent.pop_back();
        if (percent.empty() || percent.size() > 3 ||
            !std::all_of(percent.begin(), percent.end(), [](unsigned char c) { return std::isdigit(c); }) ||
            std::stoi(percent) > 100)
            throw RolloutError(at + "the percentage must be a whole number from 0 to 100, got \"" +
                               Trimmed(line.substr(blank)) + "\"");
        stage.percent = std::stoi(percent);
        if (!seen.insert(stage.package).second) throw RolloutError(at + "\"" + stage.package + "\" is staged twice");
        stages.push_back(stage);
    }
    if (in.bad()) throw RolloutError(where + ": cannot be read");
    return stages;
}

std::string QueryArgument(std::string_view query, std::string_view name) {
    std::size_t start = 0;
    while (start <= query.size()) {
        std::size_t end = query.find('&', start);
        if (end == std::string_view::npos) end = query.size();
        const std::string_view pair = query.substr(start, end - start);
        if (pair.size() > name.size() && pair[name.size()] == '=' && EqualNoCase(pair.substr(0, name.size()), name))
            return std::string(pair.substr(name.size() + 1));
        start = end + 1;
    }
    return "";
}

std::string SchoolKey(std::string_view query) {
    std::string smsid = QueryArgument(query, "SMSID");
    return smsid == "x" ? QueryArgument(query, "School") : smsid;
}

int BucketOf(std::string_view key) {
    return static_cast<int>(std::min<std::uint32_t>(MurmurHash2(key) / kBucketWidth, kBuckets - 1));
}

}  // namespace qlr::server
