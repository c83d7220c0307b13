#include "platform/win32/Wildcard.h"

namespace qlr::win32 {

namespace {

char Fold(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Greedy match with one backtrack point per star: linear for the masks a listing uses.
bool Match(std::string_view mask, std::string_view name) {
    std::size_t m = 0, n = 0;
    std::size_t starMask = std::string_view::npos, starName = 0;
    while (n < name.size()) {
        if (m < mask.size() && mask[m] == '*') {
            starMask = m++;
            starName = n;
        } else if (m < mask.size() && (mask[m] == '?' || Fold(mask[m]) == Fold(name[n]))) {
            ++m;
            ++n;
        } else if (starMask != std::string_view::npos) {
            m = starMask + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*') ++m;
    return m == mask.size();
}

}  // namespace

bool MatchesWildcard(std::string_view mask, std::string_view name) {
    if (Match(mask, name)) return true;
    // "name.*" stands for the name with any extension, or none.
    if (mask.size() >= 2 && mask.substr(mask.size() - 2) == ".*" && name.find('.') == std::string_view::npos)
        return Match(mask.substr(0, mask.size() - 2), name);
    return false;
}

}  // namespace qlr::win32
