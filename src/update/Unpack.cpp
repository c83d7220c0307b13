#include <algorithm>
#include <optional>

#include "app/main.h"
#include "base/SmallFile.h"
#include "base/Text.h"
#include "update/BufferedWriter.h"
#include "update/Package.h"
#include "update/Signature.h"

namespace qlr {

namespace {

constexpr const char* kTemporaryMask = "*.qlrtmp";
constexpr const char* kAsideMask = "*.qlrold";
constexpr int kTemporaryNames = 1000;
// What a commit is about to move, so that a run killed half-way is finished or undone by the next.
constexpr const char* kJournal = "C:\\TSLData\\QLR\\Tovanel.qlrjournal";
constexpr const char* kJournalHeader = "QLR commit 1";
constexpr const char* kJournalMoving = "moving";  // the list is whole: moves may have begun
constexpr const char* kJournalUndo = "undo";      // a commit that failed left its undo unfinished
constexpr std::size_t kMaxJournalBytes = std::size_t{1} << 20;

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

// One file of a commit: the old file (if any) goes aside, the staged one in.
struct Move {
    std::string target, temporary, aside;  // aside empty: there was no old file
};

// name is target.<number><suffix>.
bool IsNumberedBeside(const std::string& target, const std::string& name, const std::string& suffix) {
    if (name.size() < target.size() + suffix.size() + 2 || name.compare(0, target.size(), target) != 0 ||
        name[target.size()] != '.' || !name.ends_with(suffix))
        return false;
    const std::string number = name.substr(target.size() + 1, name.size() - target.size() - 1 - suffix.size());
    return !number.empty() && number.find_first_not_of("0123456789") == std::string::npos;
}

std::vector<Move> ParseJournal(const std::string& text, bool& moving, bool& undo) {
    std::vector<Move> moves;
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    if (lines.empty() || lines.front() != kJournalHeader) return moves;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        if (lines[i] == kJournalMoving) moving = true;
        if (lines[i] == kJournalUndo) undo = true;
        // '|' can be in no entry path: the fields split cleanly.
        const auto first = lines[i].find('|'), second = lines[i].rfind('|');
        if (moving || first == std::string::npos || first == second) continue;
        Move move{lines[i].substr(0, first), lines[i].substr(first + 1, second - first - 1),
                  lines[i].substr(second + 1)};
        // Anyone may write the data folder: a journal moves only files beside a sound target, named as a commit names
        // them.
        if (!IsSafeEntryPath(move.target) || !IsNumberedBeside(move.target, move.temporary, ".qlrtmp") ||
            (!move.aside.empty() && !IsNumberedBeside(move.target, move.aside, ".qlrold")))
            return {};
        moves.push_back(std::move(move));
    }
    return moves;
}

// Moves in, in order, whatever is still staged; the old file of each goes aside first.
bool Forward(Platform& platform, const std::vector<Move>& moves) {
    for (const Move& move : moves) {
        if (move.aside.empty() || !platform.FileExists(move.temporary) || !platform.FileExists(move.target)) continue;
        // The startup program's aside is a copy, and a kill may have cut it short: it is made again.
        if (PathKey(move.target) == PathKey(paths::StartupProgram)) {
            if (!platform.CopyFileOver(move.target, move.aside)) return false;
        } else if (!platform.FileExists(move.aside) && !platform.MoveOver(move.target, move.aside)) {
            return false;
        }
    }
    for (const Move& move : moves)
        if (platform.FileExists(move.temporary) && !platform.MoveOver(move.temporary, move.target)) return false;
    return true;
}

// Puts every old file back and removes every new one; the first target it
// could not restore, or empty.
std::string Undo(Platform& platform, const std::vector<Move>& moves) {
    std::string lost;
    for (auto move = moves.rbegin(); move != moves.rend(); ++move) {
        bool restored = true;
        if (!move->aside.empty()) {
            // A target still there beside its staged file was never replaced: its aside is a copy, or half of one.
            const bool untouched = platform.FileExists(move->temporary) && platform.FileExists(move->target);
            if (untouched && platform.FileExists(move->aside))
                platform.RemoveFile(move->aside);
            else if (platform.FileExists(move->aside))
                restored = platform.MoveOver(move->aside, move->target);
        } else if (platform.FileExists(move->target) && !platform.FileExists(move->temporary)) {
            restored = platform.RemoveFile(move->target);  // it was moved in
        }
        if (platform.FileExists(move->temporary)) platform.RemoveFile(move->temporary);
        if (!restored && lost.empty()) lost = move->target;
    }
    return lost;
}

void RemoveAsides(Platform& platform, const std::vector<Move>& moves) {
    // A running program's file stays until a later run finds it free.
    for (const Move& move : moves)
        if (!move.aside.empty() && platform.FileExists(move.aside)) platform.RemoveFile(move.aside);
}

// Finishes, or else undoes, a commit that a kill interrupted. False while a
// journal remains: its set-aside files are then the only copies of the old ones.
bool RecoverCommit(Platform& platform) {
    if (!platform.FileExists(kJournal)) return true;
    std::string text;
    try {
        text = ReadSmallFile(platform, kJournal, kMaxJournalBytes);
    } catch (const RunError&) {
        return false;
    }
    bool moving = false, undo = false;
    const std::vector<Move> moves = ParseJournal(text, moving, undo);
    if (moving) {
        // An undo removes staged files as it goes: once begun, a later run must never go forward.
        if (!undo && !Forward(platform, moves)) {
            platform.AppendToFile(kJournal, std::string(kJournalUndo) + "\n");
            undo = true;
        }
        if (undo && !Undo(platform, moves).empty()) return false;
        RemoveAsides(platform, moves);
    }
    for (const Move& move : moves)
        if (platform.FileExists(move.temporary)) platform.RemoveFile(move.temporary);
    return platform.RemoveFile(kJournal) || !platform.FileExists(kJournal);
}

// Set-aside copies of files that were in use when they were replaced; the
// ".old-<tick>" ones are from earlier versions of this program.
bool IsSetAside(const std::string& name) {
    const std::string upper = UpperCase(name);
    if (upper.size() > 7 && upper.compare(upper.size() - 7, 7, ".QLROLD") == 0) return true;
    const auto old = upper.rfind(".OLD-");
    return old != std::string::npos && old + 5 < upper.size() &&
           upper.find_first_not_of("0123456789", old + 5) == std::string::npos;
}

// A package is installed whole or not at all. Every entry is inflated into
// a temporary file beside its target (so the final move never crosses a
// volume); only when all are complete, and the package's signature holds,
// are they flushed to disk and committed: the old files go aside, the new
// ones in, the completion marker last, and any failure moves everything
// back. What is not moved is removed when the staging ends.
class Staging {
public:
    Staging(Platform& platform, std::string marker, bool sweepAsides)
        : platform_(platform), marker_(std::move(marker)), sweepAsides_(sweepAsides) {}
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
        Staged& staged = staged_.emplace_back(Staged{entry.name, {}, {}, nullptr, false});
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

    void Commit(HeldFile* hold) {
        for (Staged& entry : staged_)
            if (!entry.file->Sync()) throw RunError("Stream write error");
        std::stable_partition(staged_.begin(), staged_.end(),
                              [&](const Staged& entry) { return PathKey(entry.target) != marker_; });
        std::vector<Move> moves;
        std::vector<Staged*> order;
        for (Staged& entry : staged_) {
            // A name given twice: the later entry is the one that stays, as if each were written in turn.
            const auto later = std::find_if(staged_.rbegin(), staged_.rend(), [&](const Staged& other) {
                return PathKey(other.target) == PathKey(entry.target);
            });
            if (&*later != &entry) continue;
            moves.push_back({entry.target, entry.temporary, platform_.FileExists(entry.target) ? Aside(entry) : ""});
            order.push_back(&entry);
        }
        // Without the data folder there is no installation a kill could leave half made.
        std::unique_ptr<FileStream> journal;
        if (platform_.FolderExists(paths::DataFolder)) {
            journal = platform_.CreateFileExclusive(kJournal);
            if (!journal) throw RunError(std::string("Cannot create file ") + kJournal);
        }
        std::string text = std::string(kJournalHeader) + "\n";
        for (const Move& move : moves) text += move.target + "|" + move.temporary + "|" + move.aside + "\n";
        text += std::string(kJournalMoving) + "\n";
        if (journal && (journal->Write(text.data(), text.size()) != text.size() || !journal->Sync())) {
            journal.reset();
            platform_.RemoveFile(kJournal);
            throw RunError("Stream write error");
        }
        for (Staged& entry : staged_) {
            entry.identity = entry.file->Identity();
            entry.file.reset();  // a file open here cannot be moved
        }
        // The startup program is copied aside, not moved: a kill must never leave the next run nothing to start.
        const auto isStartup = [](const Move& move) { return PathKey(move.target) == PathKey(paths::StartupProgram); };
        for (const Move& move : moves) {
            if (move.aside.empty()) continue;
            const bool aside = isStartup(move) ? platform_.CopyFileOver(move.target, move.aside)
                                               : platform_.MoveOver(move.target, move.aside);
            if (!aside) RollBack(std::move(journal), moves, move.target);
        }
        for (std::size_t i = 0; i < moves.size(); ++i) {
            const Move& move = moves[i];
            bool in = platform_.MoveOver(move.temporary, move.target);
            // A running program cannot be replaced where it is, but it can be moved out of the way.
            if (!in && isStartup(move) && !move.aside.empty())
                in = platform_.MoveOver(move.target, Aside(*order[i])) &&
                     platform_.MoveOver(move.temporary, move.target);
            if (!in) RollBack(std::move(journal), moves, move.target);
            order[i]->moved = true;
        }
        RemoveAsides(platform_, moves);
        if (journal) {
            journal.reset();
            platform_.RemoveFile(kJournal);
        }
        if (hold) Hold(*hold);
    }

private:
    struct Staged {
        std::string target, temporary, identity;
        std::unique_ptr<FileStream> file;  // open until its move: a live run's files cannot be removed
        bool moved = false;
    };

    std::string Aside(const Staged& entry) {
        for (int n = 1; n <= kTemporaryNames; ++n) {
            std::string aside = entry.target + "." + std::to_string(n) + ".qlrold";
            if (!platform_.FileExists(aside)) return aside;
        }
        throw RunError("Cannot create file " + entry.target);
    }

    [[noreturn]] void RollBack(std::unique_ptr<FileStream> journal, const std::vector<Move>& moves,
                               const std::string& inTheWay) {
        for (Staged& entry : staged_) entry.moved = false;
        std::string message = "Cannot create file " + inTheWay;
        // Marked before the first file goes back: a run killed during the undo is undone by the next, and so is
        // one that leaves a file it could not put back.
        if (journal) {
            const std::string undo = std::string(kJournalUndo) + "\n";
            journal->Write(undo.data(), undo.size());
            journal->Sync();
        }
        const std::string lost = Undo(platform_, moves);
        if (lost.empty() && journal) {
            journal.reset();
            platform_.RemoveFile(kJournal);
        }
        if (!lost.empty()) message += "\r\nCannot create file " + lost;
        throw RunError(message);
    }

    // The file stays held only if it is still the very one that was staged.
    void Hold(HeldFile& hold) {
        for (const Staged& entry : staged_) {
            if (!entry.moved || PathKey(entry.target) != PathKey(hold.path)) continue;
            hold.found = true;
            auto file = platform_.OpenAndHold(entry.target);
            if (file && file->Identity() == entry.identity) hold.file = std::move(file);
        }
    }

    // Temporary and set-aside files of a run that was killed. Those of a run
    // still at work are open, and their removal fails.
    void RemoveLeftovers(const std::string& folder) {
        const std::string key = PathKey(folder);
        if (std::find(cleared_.begin(), cleared_.end(), key) != cleared_.end()) return;
        cleared_.push_back(key);
        for (const char* mask : {kTemporaryMask, kAsideMask}) {
            if (mask == kAsideMask && !sweepAsides_) continue;
            for (const std::string& name : platform_.ListFiles(folder + "\\" + mask))
                platform_.RemoveFile(folder + "\\" + name);
        }
    }

    Platform& platform_;
    const std::string marker_;
    const bool sweepAsides_;
    std::vector<Staged> staged_;
    std::vector<std::string> cleared_;
};

}  // namespace

void TForm1::FinishInterruptedCommit() {
    const std::string folder = std::string(paths::DataFolder) + "\\";
    const std::vector<std::string> names = platform_.ListFiles(folder + "*.*");
    const bool asides = std::any_of(names.begin(), names.end(), IsSetAside);
    if (!asides && !platform_.FileExists(kJournal)) return;
    // A commit at work holds the run lock; so does the run that ends it, so no two touch one commit.
    const auto lock = platform_.LockMachine(0);
    if (!lock || !RecoverCommit(platform_)) return;
    for (const std::string& name : platform_.ListFiles(folder + "*.*"))
        if (IsSetAside(name)) platform_.RemoveFile(folder + name);
}

bool TForm1::UnpackPackage(const std::string& packagePath, HeldFile* hold) {
    std::string packageName = packagePath.substr(packagePath.find_last_of('\\') + 1);
    const std::string fileName = packageName;
    if (const auto dot = packageName.rfind('.'); dot != std::string::npos) packageName.resize(dot);
    int startPosition = 0;
    if (!ProgramStarted && f_progress) startPosition = f_progress->Gauge1.Progress();

    // One handle from the signature check to the last staged byte: while it
    // is open no one can change or replace the package.
    auto file = platform_.OpenAndHold(packagePath);
    auto refuse = [&](const std::string& reason) {
        file.reset();
        AddLogLine("Package refused: " + fileName + " (" + reason + ")");
        platform_.RemoveFile(packagePath);
        return false;
    };
    std::optional<SignedBytesReader> signedBytes;
    if (file && !ReleaseKeys.empty() && file->Size() > kMaxServerMessageSize) {
        const std::optional<SignatureTrailer> trailer = ReadTrailer(*file);
        if (!trailer || trailer->kind != SignatureTrailer::Kind::Present) {
            SignatureCheck check;
            if (!trailer || trailer->kind == SignatureTrailer::Kind::Damaged)
                check.verdict = SignatureCheck::Verdict::BadSignature;
            return refuse(RefusalReason(check, packageName));
        }
        signedBytes.emplace(*file, *trailer);
    }
    // A signed package's lines wait for its signature: a refused one logs only its refusal.
    std::vector<std::string> heldLines;
    auto log = [&](const std::string& line) {
        if (signedBytes)
            heldLines.push_back(line);
        else
            AddLogLine(line);
    };
    std::optional<std::string> refusal;
    auto trusted = [&]() {
        if (!refusal) refusal = signedBytes ? RefusalReason(signedBytes->Finish(ReleaseKeys), packageName) : "";
        if (!refusal->empty()) return false;
        for (const std::string& line : heldLines) AddLogLine(line);
        heldLines.clear();
        signedBytes.reset();
        return true;
    };

    if (!ProgramStarted) log("Gauge = " + std::to_string(startPosition));
    if (!file) throw RunError("Cannot open file " + packagePath);
    FileStream& source = signedBytes ? static_cast<FileStream&>(*signedBytes) : *file;

    if (source.Size() <= kMaxServerMessageSize) {
        std::string text(static_cast<std::size_t>(kMaxServerMessageSize), '\0');
        const FileRead read = source.Read(text.data(), text.size());
        if (read.failed) throw RunError("Cannot read file " + packagePath);
        text.resize(read.count);
        Memo4.SetText(text);
        return false;
    }

    try {
        PackageReader reader(source, packagePath);
        const std::int32_t count = reader.ReadCount();
        if (count > kMaxPackageEntries) {
            log("File invalid. Contains " + std::to_string(count) + " files");
            return trusted() ? false : refuse(*refusal);
        }
        log("Decoding " + std::to_string(count) + " files");
        Staging staging(platform_, CompletionMarker(packagePath), RecoverCommit(platform_));
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
            log("File " + std::to_string(i) + ": " + entry.name);
            staging.Add(reader, entry);
        }
        if (!trusted()) return refuse(*refusal);
        staging.Commit(hold);
        return true;
    } catch (const RunError&) {
        // A damaged package under a signature that does not hold is a refused one.
        if (signedBytes && !trusted()) return refuse(*refusal);
        throw;
    }
}

}  // namespace qlr
