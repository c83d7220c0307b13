#include <algorithm>

#include "app/main.h"
#include "base/Text.h"
#include "update/BufferedWriter.h"
#include "update/Package.h"

namespace qlr {

namespace {

constexpr const char* kTemporaryMask = "*.qlrtmp";
constexpr int kTemporaryNames = 1000;

std::string FolderOf(const std::string& path) { return path.substr(0, path.find_last_of("\\/")); }

// One spelling per file, as Windows compares paths.
std::string PathKey(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return UpperCase(path);
}

// The file whose presence tells the update check that this package is in:
// C:\TSLData\QLR\<package name>.exe.
std::string CompletionMarker(const std::string& packagePath) {
    std::string name = packagePath.substr(packagePath.find_last_of("\\/:") + 1);
    if (const auto dot = name.rfind('.'); dot != std::string::npos) name.resize(dot);
    return PathKey(std::string(paths::DataFolder) + "\\" + name + ".exe");
}

// A package is installed whole or not at all. Every entry is inflated into
// a temporary file beside its target (so the final move never crosses a
// volume); only when all are complete are they flushed to disk and moved
// into place, the completion marker last. A run killed before that marker
// is in leaves the update undone, and the next run does it again. What is
// not moved is removed when the staging ends.
class Staging {
public:
    Staging(Platform& platform, std::string marker) : platform_(platform), marker_(std::move(marker)) {}
    ~Staging() {
        for (Staged& entry : staged_) {
            if (entry.moved) continue;
            entry.file.reset();
            platform_.RemoveFile(entry.temporary);
        }
    }
    Staging(const Staging&) = delete;
    Staging& operator=(const Staging&) = delete;

    void Add(PackageReader& reader, const PackageEntry& entry) {
        RemoveLeftovers(FolderOf(entry.name));
        Staged& staged = staged_.emplace_back(Staged{entry.name, {}, nullptr, false});
        // Numbered names: a second run at the same time picks the next free one.
        for (int n = 1; n <= kTemporaryNames && !staged.file; ++n) {
            staged.temporary = entry.name + "." + std::to_string(n) + ".qlrtmp";
            staged.file = platform_.CreateFileExclusive(staged.temporary);
            if (!staged.file && !platform_.FileExists(staged.temporary)) break;
        }
        if (!staged.file) {
            staged_.pop_back();
            throw RunError("Cannot create file " + entry.name);
        }
        BufferedWriter out(*staged.file);
        reader.InflateEntry(entry.size, [&](const char* data, std::size_t count) { return out.Write(data, count); });
        if (!out.Flush()) throw RunError("Stream write error");
    }

    void Commit() {
        for (Staged& entry : staged_)
            if (!entry.file->Sync()) throw RunError("Stream write error");
        std::stable_partition(staged_.begin(), staged_.end(),
                              [&](const Staged& entry) { return PathKey(entry.target) != marker_; });
        for (Staged& entry : staged_) {
            entry.file.reset();
            if (!platform_.MoveOver(entry.temporary, entry.target))
                throw RunError("Cannot create file " + entry.target);
            entry.moved = true;
        }
    }

private:
    struct Staged {
        std::string target, temporary;
        std::unique_ptr<FileStream> file;  // open until its move: a live run's files cannot be removed
        bool moved = false;
    };

    // Temporary files of a run that was killed. Those of a run still at work
    // are open, and their removal fails.
    void RemoveLeftovers(const std::string& folder) {
        const std::string key = PathKey(folder);
        if (std::find(cleared_.begin(), cleared_.end(), key) != cleared_.end()) return;
        cleared_.push_back(key);
        for (const std::string& name : platform_.ListFiles(folder + "\\" + kTemporaryMask))
            platform_.RemoveFile(folder + "\\" + name);
    }

    Platform& platform_;
    const std::string marker_;
    std::vector<Staged> staged_;
    std::vector<std::string> cleared_;
};

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
        const FileRead read = file->Read(text.data(), text.size());
        if (read.failed) throw RunError("Cannot read file " + packagePath);
        text.resize(read.count);
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
    Staging staging(platform_, CompletionMarker(packagePath));
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
        staging.Add(reader, entry);
    }
    staging.Commit();
    return true;
}

}  // namespace qlr
