#pragma once
// Reads a shell link file back with lnkinfo (Debian's liblnk-utils), an
// independent reader: what it calls "Local path" is the link's target.

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace qlr::testing {

inline std::string RunCapture(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) return std::string();
    std::string out;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe.get())) out.append(buffer, n);
    return out;
}

// The "Local path" lnkinfo reports, or nothing when it reports none.
inline std::optional<std::string> LnkInfoLocalPath(const std::filesystem::path& link) {
    const std::string out = RunCapture("lnkinfo '" + link.string() + "' 2>&1");
    const std::string key = "Local path";
    const auto at = out.find(key);
    if (at == std::string::npos) return std::nullopt;
    const auto colon = out.find(": ", at);
    const auto end = out.find('\n', at);
    if (colon == std::string::npos || colon > end) return std::nullopt;
    return out.substr(colon + 2, end - colon - 2);
}

}  // namespace qlr::testing
