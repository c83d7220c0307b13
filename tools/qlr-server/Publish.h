#pragma once
// Publishing: from ROOT/updates/*.pak and ROOT/rollout.txt, the list each
// bucket of schools is answered with, written as ROOT/published/index-NN.txt
// (NN = 00..99). nginx serves those files as they stand; qlr-server writes
// and serves the same bytes.

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "Rollout.h"

namespace qlr::server {

struct Publication {
    std::array<std::string, kBuckets> lists;  // "NAME.pak SIZE\r\n" lines, by name
    std::vector<std::string> offers;          // "QLR6-39.pak: 25% of schools", one per package
    std::vector<std::string> warnings;        // rollout lines that name no package
};

// Throws RolloutError when rollout.txt is damaged.
Publication BuildPublication(const std::filesystem::path& root);

// Replaces each list file whole (a reader sees the old list or the new one);
// throws std::runtime_error when a file cannot be written.
void WritePublication(const std::filesystem::path& root, const Publication& publication);

std::filesystem::path PublishedList(const std::filesystem::path& root, int bucket);

}  // namespace qlr::server
