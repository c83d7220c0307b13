#pragma once
// What whole update runs are judged by, on either platform. Plain C++ for
// both test suites.

#include <string>
#include <vector>

namespace qlr::testing {

// The update check's lines of a saved log, from "Accessing cloud" to the step
// after it. "Gauge = " lines come and go with the early launch; unit tests
// cover them.
inline std::vector<std::string> UpdateCheckSection(const std::vector<std::string>& logLines) {
    std::vector<std::string> section;
    bool inside = false;
    for (const auto& line : logLines) {
        inside = inside || line == "Accessing cloud";
        if (!inside) continue;
        if (line == "Creating Shortcuts" || line.empty()) break;
        if (line.rfind("Gauge = ", 0) != 0) section.push_back(line);
    }
    return section;
}

// Past the 500-byte rule: bytes after the last entry are never read.
inline std::string Padded(std::string package) {
    if (package.size() <= 500) package.resize(501, '\0');
    return package;
}

}  // namespace qlr::testing
