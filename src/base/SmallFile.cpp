#include "base/SmallFile.h"

#include "base/Text.h"

namespace qlr {

std::string ReadSmallFile(Platform& platform, const std::string& file) {
    auto stream = platform.OpenForRead(file);
    if (!stream) throw RunError("Cannot open file " + file);
    std::string text;
    char buffer[4096];
    for (;;) {
        const FileRead read = stream->Read(buffer, sizeof buffer);
        if (read.failed) throw RunError("Cannot read file " + file);
        if (read.count == 0) return text;
        text.append(buffer, read.count);
    }
}

std::vector<std::string> ReadTextLines(Platform& platform, const std::string& file) {
    return SplitLines(ReadSmallFile(platform, file));
}

}  // namespace qlr
