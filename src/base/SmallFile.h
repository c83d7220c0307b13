#pragma once
// Small text files (options, update list) read whole through the platform.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace qlr {

// The whole of a small text file, or its first limit bytes; throws RunError
// when it cannot be opened or read.
std::string ReadSmallFile(Platform& platform, const std::string& file, std::size_t limit = SIZE_MAX);
// Its lines; CR LF, LF and CR all end a line.
std::vector<std::string> ReadTextLines(Platform& platform, const std::string& file);

}  // namespace qlr
