// Any options file and any text added to the run log: line splitting,
// values and line-break normalisation keep their promises.
#include <cstdint>
#include <string>

#include "base/Text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (const auto& line : qlr::SplitLines(text)) {
        if (line.find_first_of("\r\n") != std::string::npos) __builtin_trap();
        if (qlr::OptionValue(line).size() > 999) __builtin_trap();
    }
    const std::string normal = qlr::NormalizeLineBreaks(text);
    for (std::size_t i = 0; i < normal.size(); ++i) {
        if (normal[i] == '\r' && (i + 1 == normal.size() || normal[i + 1] != '\n')) __builtin_trap();
        if (normal[i] == '\n' && (i == 0 || normal[i - 1] != '\r')) __builtin_trap();
    }
    if (qlr::NormalizeLineBreaks(normal) != normal) __builtin_trap();  // already normal stays
    return 0;
}
