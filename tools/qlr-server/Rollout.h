#pragma once
// Staged rollout: ROOT/rollout.txt holds lines "QLR6-39 25", which offer
// QLR6-39 to 25% of the schools. Schools fall into 100 buckets by the
// MurmurHash2 of their key, exactly as nginx's split_clients with 1% steps
// places them; a package staged at P% is offered to buckets 0 to P-1, so
// raising P only ever adds schools.

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qlr::server {

constexpr int kBuckets = 100;

struct Stage {
    std::string package;  // without ".pak"
    int percent = 100;
    int line = 0;
};

struct RolloutError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The stages of ROOT/rollout.txt; none when the file does not exist. Blank
// lines and lines starting with '#' are skipped; anything else that is not
// "NAME PERCENT" (0 to 100, an optional '%') throws RolloutError.
std::vector<Stage> ReadRollout(const std::filesystem::path& file);

// The first NAME=value of a raw query, as sent (not decoded); names match
// case-insensitively, as nginx's $arg_NAME does.
std::string QueryArgument(std::string_view query, std::string_view name);

// The school's key: its SMSID, or its school name when the SMSID is "x".
std::string SchoolKey(std::string_view query);

// The school's bucket, 0 to 99.
int BucketOf(std::string_view key);

}  // namespace qlr::server
