#pragma once
// Reading the server's package list: which lines name a package, the cut
// that takes the name out of a line, and the choice of the highest name.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qlr {

// Only this much of the stored list is read: a longer reply is cut there.
inline constexpr std::size_t kMaxUpdateListBytes = std::size_t{1024} * 1024;

// True when name can only ever mean a file in the folder it is joined to:
// no folder separators, no drive or stream colon, no "..", no control characters.
bool IsPlainFileName(std::string_view name);

// The package name a list line gives, possibly empty; nullopt when the
// line does not carry both "QLR" and ".pak", or when the name it gives is
// not a plain file name, and is skipped.
std::optional<std::string> PackageNameFromLine(std::string_view line);

struct UpdateOffer {
    std::vector<std::string> names;  // every name taken, in list order
    std::string best;                // the highest in ordinal order; the first of equals
    std::string version;             // best from its fourth character on
};

// Each line is examined whole; lines may end in CR LF, LF or CR.
UpdateOffer ReadUpdateList(std::string_view listText);

}  // namespace qlr
