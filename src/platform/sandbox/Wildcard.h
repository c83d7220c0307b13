#pragma once
#include <string_view>

namespace qlr::sandbox {

// Windows wildcard match of a whole file name: "*" any run, "?" one
// character, letters regardless of case; "*.*" matches every name.
bool MatchesMask(std::string_view name, std::string_view mask);

}  // namespace qlr::sandbox
