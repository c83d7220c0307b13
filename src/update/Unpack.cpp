#include <algorithm>

#include "app/Text.h"
#include "app/main.h"
#include "update/Package.h"

namespace qlr {

namespace {

// Beside the target, so the final rename never crosses a volume.
std::string TemporaryPath(const std::string& target) { return target + ".qlrtmp"; }

// Inflates one entry into a temporary file and moves it over the target
// only when the stream ended cleanly with exactly the declared size, so a
// failure never leaves a half-written file where the old one stood.
void UnpackEntry(Platform& platform, PackageReader& reader, const PackageEntry& entry) {
    const std::string temporary = TemporaryPath(entry.name);
    auto out = platform.CreateNewFile(temporary);
    if (!out) throw RunError("Cannot create file " + entry.name);
    try {
        reader.InflateEntry(entry.size, [&](const char* data, std::size_t count) {
            return out->Write(data, count) == count;
        });
        out.reset();
    } catch (...) {
        out.reset();
        platform.RemoveFile(temporary);
        throw;
    }
    if (!platform.MoveOver(temporary, entry.name)) {
        platform.RemoveFile(temporary);
        throw RunError("Cannot create file " + entry.name);
    }
}

}  // namespace

bool TForm1::UnpackPackage(const std::string& packagePath) {
    int startPosition = 0;
    if (!ProgramStarted) {
        if (f_progress) startPosition = f_progress->Gauge1.Progress();
        AddLogLine("Gauge = " + std::to_string(startPosition));
    }
    auto file = platform_.OpenForRead(packagePath);
    if (!file) throw RunError("Cannot open file " + packagePath);

    if (file->Size() <= kMaxServerMessageSize) {
        std::string text(static_cast<std::size_t>(kMaxServerMessageSize), '\0');
        std::size_t total = 0;
        while (total < text.size()) {
            std::size_t n = file->Read(text.data() + total, text.size() - total);
            if (n == 0) break;
            total += n;
        }
        text.resize(total);
        Memo4.SetText(text);
        return false;
    }

    PackageReader reader(*file, packagePath);
    const std::int32_t count = reader.ReadCount();
    if (count > kMaxPackageEntries) {
        AddLogLine("File invalid. Contains " + std::to_string(count) + " files");
        return false;
    }
    AddLogLine("Decoding " + std::to_string(count) + " files");
    const RepaintPacer paced(platform_, {&Edit9, &Edit10, &Edit11});
    for (std::int32_t i = 1; i <= count; ++i) {
        try {
            const std::int64_t percentage = Percentage(i, ExpectedFiles);
            Edit9.SetText(std::to_string(i));
            Edit10.SetText(std::to_string(ExpectedFiles));
            Edit11.SetText(std::to_string(percentage));
            Edit9.Repaint();
            Edit10.Repaint();
            Edit11.Repaint();
            if (!ProgramStarted && f_progress) {
                f_progress->Gauge1.SetProgress(
                    static_cast<int>(std::clamp<std::int64_t>(startPosition + percentage, 0, 100)));
                f_progress->Gauge1.Repaint();
            }
        } catch (...) {
            // A display that cannot be updated must not stop the unpack.
        }
        const PackageEntry entry = reader.ReadEntryHeader();
        AddLogLine("File " + std::to_string(i) + ": " + entry.name);
        UnpackEntry(platform_, reader, entry);
    }
    return true;
}

}  // namespace qlr
