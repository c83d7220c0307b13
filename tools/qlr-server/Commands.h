#pragma once
// The commands of qlr-server; each takes the arguments after its name and
// returns the exit status (0 done, 1 failed, 2 bad usage).

#include <string>
#include <vector>

namespace qlr::server {

using Arguments = std::vector<std::string>;

int ServeCommand(const Arguments& arguments);
int PublishCommand(const Arguments& arguments);
int ReportCommand(const Arguments& arguments);

extern const char* const kUsage;
int UsageError(const std::string& message);

}  // namespace qlr::server
