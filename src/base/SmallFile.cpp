#include "base/SmallFile.h"

#include "base/Text.h"

namespace qlr {

std::string ReadSmallFile(Platform& platform, const std::string& file) {
    auto stream = platform.OpenForRead(file);
    if (!stream) throw RunError("Cannot open file " + file);
    std::string text;
    char buffer[4096];
    while (std::size_t n = stream->Read(buffer, sizeof buffer)) text.append(buffer, n);
    return text;
}

std::vector<std::string> ReadTextLines(Platform& platform, const std::string& file) {
    return SplitLines(ReadSmallFile(platform, file));
}

}  // namespace qlr
