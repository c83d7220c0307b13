#pragma once
// Text rules shared by every subsystem: 8-bit ANSI, ordinal comparison,
// ASCII-only upper-casing.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qlr {

// Only a..z change; every other byte, accented letters included, stays.
std::string UpperCase(std::string_view text);
bool Contains(std::string_view text, std::string_view part);
// Byte by byte, unsigned; the longer text is greater when one begins the other.
bool OrdinalGreater(std::string_view a, std::string_view b);
// Case-insensitive order of whole names, as a sorted list box keeps them.
int CompareTextIgnoreCase(std::string_view a, std::string_view b);
// The file-name part: after the last backslash or colon.
std::string ExtractFileName(std::string_view path);
// Everything after the first "=", or the whole line when it has none; at most 999 characters.
std::string OptionValue(std::string_view line);
// Every lone CR, lone LF and LF CR becomes CR LF; CR LF pairs stay.
std::string NormalizeLineBreaks(std::string_view text);
// Split on CR LF, lone LF and lone CR.
std::vector<std::string> SplitLines(std::string_view text);
// A folder listing's wildcard rule on a long file name: '*' any run, '?' one
// character, letters without case; a mask ending in ".*" also takes names
// without an extension.
bool MatchesWildcard(std::string_view mask, std::string_view name);
// Percentage without overflow, truncated toward zero.
std::int64_t Percentage(std::int64_t part, std::int64_t whole);

}  // namespace qlr
