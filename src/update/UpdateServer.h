#pragma once
// Where the maker's update server lives, and the addresses formed under it.

#include <string>
#include <string_view>

namespace qlr {

// The base address compiled in, or the environment variable
// QLR_UPDATE_BASE_URL when set (for tests and staging servers).
// Throws RunError when the address does not end in "/".
std::string UpdateBaseUrl();

// RFC 3986: unreserved characters stay, every other byte becomes %XX.
std::string PercentEncode(std::string_view value);

// base + "index.php?School=..&SMSID=..&USER=..", the values encoded.
std::string UpdateListUrl(const std::string& base, std::string_view school, std::string_view smsid,
                          std::string_view user);

}  // namespace qlr
