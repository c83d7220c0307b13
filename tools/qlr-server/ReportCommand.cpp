#include <fstream>
#include <iostream>

#include "Commands.h"
#include "Report.h"

namespace qlr::server {

int ReportCommand(const Arguments& arguments) {
    int days = 7;
    std::string output;
    std::vector<std::string> logs;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& arg = arguments[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        }
        if (arg == "--days" || arg == "--output") {
            if (i + 1 >= arguments.size()) return UsageError("missing value for " + arg);
            const std::string& value = arguments[++i];
            if (arg == "--output") {
                output = value;
                continue;
            }
            char* end = nullptr;
            const long n = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || n < 1 || n > 3650) return UsageError("bad number of days: " + value);
            days = static_cast<int>(n);
        } else if (!arg.empty() && arg[0] == '-') {
            return UsageError("unknown option: " + arg);
        } else {
            logs.push_back(arg);
        }
    }
    if (logs.empty()) return UsageError("report needs at least one LOG");
    Report report(days);
    try {
        ReadLogs(logs, report);
    } catch (const std::exception& error) {
        std::cerr << "qlr-server: " << error.what() << "\n";
        return 1;
    }
    const std::string html = report.Html();
    const auto totals = report.Counts();
    if (totals.damaged > 0) std::cerr << "qlr-server: skipped " << totals.damaged << " damaged log lines\n";
    if (output.empty()) {
        std::cout << html << std::flush;
        return std::cout ? 0 : 1;
    }
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    out << html;
    out.close();
    if (!out) {
        std::cerr << "qlr-server: cannot write " << output << "\n";
        return 1;
    }
    return 0;
}

}  // namespace qlr::server
