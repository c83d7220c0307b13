#include "Publish.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <stdexcept>

#include <unistd.h>

namespace qlr::server {

namespace fs = std::filesystem;

namespace {

std::map<std::string, std::uintmax_t> Packages(const fs::path& updates) {
    std::map<std::string, std::uintmax_t> packages;
    std::error_code error;
    for (const auto& item : fs::directory_iterator(updates, error)) {
        std::error_code itemError;
        if (!item.is_regular_file(itemError)) continue;
        const std::string name = item.path().filename().string();
        if (name.size() <= 4 || !name.ends_with(".pak")) continue;
        const std::uintmax_t size = item.file_size(itemError);
        if (!itemError) packages.emplace(name, size);
    }
    return packages;
}

}  // namespace

fs::path PublishedList(const fs::path& root, int bucket) {
    char name[32];
    std::snprintf(name, sizeof name, "index-%02d.txt", bucket);
    return root / "published" / name;
}

Publication BuildPublication(const fs::path& root) {
    const std::vector<Stage> stages = ReadRollout(root / "rollout.txt");
    Publication publication;
    const auto packages = Packages(root / "updates");
    for (const auto& [name, size] : packages) {
        const std::string line = name + " " + std::to_string(size) + "\r\n";
        const std::string& file = name;  // clang before 16 cannot capture a structured binding
        auto stage =
            std::find_if(stages.begin(), stages.end(), [&](const Stage& s) { return s.package + ".pak" == file; });
        const int percent = stage == stages.end() ? 100 : stage->percent;
        for (int bucket = 0; bucket < percent; ++bucket) publication.lists[bucket] += line;
        publication.offers.push_back(
            name + ": " + (percent == 100 ? std::string("all schools") : std::to_string(percent) + "% of schools"));
    }
    for (const Stage& stage : stages) {
        if (!packages.contains(stage.package + ".pak"))
            publication.warnings.push_back("rollout.txt line " + std::to_string(stage.line) + ": no package " +
                                           stage.package + ".pak in updates/; the line has no effect");
    }
    return publication;
}

void WritePublication(const fs::path& root, const Publication& publication) {
    std::error_code error;
    fs::create_directories(root / "published", error);
    for (int bucket = 0; bucket < kBuckets; ++bucket) {
        const fs::path target = PublishedList(root, bucket);
        fs::path temporary = target;
        temporary += ".new-" + std::to_string(::getpid());
        {
            std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
            out << publication.lists[bucket];
            out.close();
            if (!out) throw std::runtime_error("cannot write " + temporary.string());
        }
        fs::rename(temporary, target, error);
        if (error) throw std::runtime_error("cannot replace " + target.string() + ": " + error.message());
    }
}

}  // namespace qlr::server
