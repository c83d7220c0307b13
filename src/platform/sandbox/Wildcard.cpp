#include "platform/sandbox/Wildcard.h"

#include <cctype>

namespace qlr::sandbox {

namespace {
bool SameLetter(char a, char b) {
    return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
}
}  // namespace

bool MatchesMask(std::string_view name, std::string_view mask) {
    if (mask == "*.*") mask = "*";
    // Greedy match with one backtrack point: the last "*" seen.
    std::size_t n = 0, m = 0;
    std::size_t starAt = std::string_view::npos, resumeName = 0;
    while (n < name.size()) {
        if (m < mask.size() && mask[m] == '*') {
            starAt = m++;
            resumeName = n;
        } else if (m < mask.size() && (mask[m] == '?' || SameLetter(mask[m], name[n]))) {
            ++m;
            ++n;
        } else if (starAt != std::string_view::npos) {
            m = starAt + 1;
            n = ++resumeName;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*') ++m;
    return m == mask.size();
}

}  // namespace qlr::sandbox
