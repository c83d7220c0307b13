#include "base/SmallFile.h"

#include <algorithm>

#include "base/Text.h"

namespace qlr {

std::string ReadSmallFile(Platform& platform, const std::string& file, std::size_t limit) {
    auto stream = platform.OpenForRead(file);
    if (!stream) throw RunError("Cannot open file " + file);
    std::string text;
    char buffer[4096];
    while (text.size() < limit) {
        const FileRead read = stream->Read(buffer, std::min(sizeof buffer, limit - text.size()));
        if (read.failed) throw RunError("Cannot read file " + file);
        if (read.count == 0) break;
        text.append(buffer, read.count);
    }
    return text;
}

std::vector<std::string> ReadTextLines(Platform& platform, const std::string& file) {
    return SplitLines(ReadSmallFile(platform, file));
}

}  // namespace qlr
