#pragma once
#include <string_view>

namespace qlr::win32 {

// The long-name wildcard rule of a folder listing: '*' any run of characters,
// '?' exactly one, letters compared without case, and "*.*" (or any mask
// ending in ".*") also matching names that have no extension. Checked again
// on every name FindFirstFile returns, because the system matches masks
// against 8.3 short names too ("QLR6*.exe" would take "QLR6-38.exebak").
bool MatchesWildcard(std::string_view mask, std::string_view name);

}  // namespace qlr::win32
