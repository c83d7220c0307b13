// Unpacking packages: the server-message rule, the count limit, entries
// back to back, and every way a package can be broken; a package is
// installed whole or not at all, never outside drive C:, and a failure
// never spoils the file that stood at an entry's path.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "app/main.h"
#include "base/SmallFile.h"
#include "native/support/ScriptedPlatform.h"
#include "update/Package.h"
#include "update/Signature.h"

namespace qlr::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPak = "C:\\Temp\\QLR\\QLR6-39.pak";
const std::string kDamaged = PackageReader::DamagedMessage(kPak);

class Unpack : public ::testing::Test {
protected:
    void SetUp() override {
        machine.MakeFolders("C:\\Temp\\QLR");
        machine.MakeFolders("C:\\Out");
        form.Memo3.Clear();
        form.Memo4.Clear();
        form.ExpectedFiles = 20;
        form.ProgramStarted = true;
    }

    bool Run(const std::string& bytes) {
        machine.Write(kPak, bytes);
        return form.UnpackPackage(kPak);
    }
    // The exception's message, or "" when the unpack ended normally.
    std::string Failure(const std::string& bytes) {
        try {
            Run(bytes);
        } catch (const RunError& error) {
            return error.what();
        }
        return "";
    }
    std::vector<std::string> Log() const { return CrLfLines(form.Memo3.Text()); }
    // Names of the files in a folder, sorted.
    std::vector<std::string> FilesIn(const std::string& folder) const {
        std::vector<std::string> names;
        for (const auto& item : fs::directory_iterator(machine.Host(folder)))
            names.push_back(item.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::vector<std::string> OutFiles() const { return FilesIn("C:\\Out"); }
    // Every file and folder of the whole machine, as host paths.
    std::set<std::string> Everything() const {
        std::set<std::string> paths;
        for (const auto& item : fs::recursive_directory_iterator(machine.Root())) paths.insert(item.path().string());
        return paths;
    }

    SandboxMachine machine;
    TForm1 form{machine.platform()};
};

TEST_F(Unpack, FilesOf500BytesOrLessAreServerMessages) {
    const std::string message = "Service closed for maintenance";  // 30 bytes
    EXPECT_FALSE(Run(message));
    EXPECT_EQ(form.Memo4.Text(), message);
    EXPECT_TRUE(Log().empty());

    const std::string full(500, 'm');
    EXPECT_FALSE(Run(full));
    EXPECT_EQ(form.Memo4.Text(), full);

    EXPECT_FALSE(Run(std::string("stop\0hidden", 11)));
    EXPECT_EQ(form.Memo4.Text(), "stop");  // the box shows up to the first zero byte

    form.Memo4.Clear();
    std::string package = CountBytes(0);
    package.resize(501, 'x');  // one byte past the rule: a package
    EXPECT_TRUE(Run(package));
    EXPECT_EQ(form.Memo4.Text(), "");
    EXPECT_EQ(Log(), std::vector<std::string>{"Decoding 0 files"});
}

TEST_F(Unpack, CountDecidesWhetherAnythingIsRead) {
    struct Case {
        std::int32_t count;
        bool result;
        const char* line;
    };
    for (const Case& c : {Case{101, false, "File invalid. Contains 101 files"}, Case{0, true, "Decoding 0 files"},
                          Case{-3, true, "Decoding -3 files"}}) {
        form.Memo3.Clear();
        // A well-formed entry follows: only the count decides that it is not written.
        std::string package = CountBytes(c.count) + EntryBytes("C:\\Out\\a.txt", 5, "hello");
        EXPECT_EQ(Run(Padded(package)), c.result) << c.count;
        EXPECT_EQ(Log(), std::vector<std::string>{c.line});
        EXPECT_TRUE(OutFiles().empty());
    }
}

TEST_F(Unpack, EntriesFollowEachOtherWhereverTheReadAheadStopped) {
    // Larger than the reader's buffer, so a stream crosses a refill; then many small ones in one buffer.
    std::vector<PackageEntry> entries = {{"C:\\Out\\big.bin", Incompressible(150000, 1)}};
    for (int i = 0; i < 60; ++i)
        entries.push_back({"C:\\Out\\f" + std::to_string(i) + ".txt", std::string(i + 1, 'a' + i % 26)});
    EXPECT_TRUE(Run(Padded(PackageBytes(entries))));
    for (const auto& entry : entries) EXPECT_EQ(machine.Read(entry.name), entry.content) << entry.name;
    std::vector<std::string> log = Log();
    ASSERT_EQ(log.size(), 61u + 1);
    EXPECT_EQ(log[0], "Decoding 61 files");
    EXPECT_EQ(log[1], "File 1: C:\\Out\\big.bin");
    EXPECT_EQ(log[61], "File 61: C:\\Out\\f59.txt");
    EXPECT_EQ(OutFiles().size(), 61u);  // no temporary left beside them
}

TEST_F(Unpack, ExistingFileIsReplaced) {
    machine.Write("C:\\Out\\QLR6-39.exe", "an older build, longer than the new one");
    EXPECT_TRUE(Run(Padded(PackageBytes({{"C:\\Out\\QLR6-39.exe", "new build"}}))));
    EXPECT_EQ(machine.Read("C:\\Out\\QLR6-39.exe"), "new build");
}

TEST_F(Unpack, MissingFolderStopsAtThatEntryAndInstallsNothing) {
    machine.Write("C:\\Out\\a.txt", "old");
    const std::string package =
        PackageBytes({{"C:\\Out\\a.txt", "first"}, {"C:\\Missing\\b.txt", "second"}, {"C:\\Out\\c.txt", "third"}});
    EXPECT_EQ(Failure(Padded(package)), "Cannot create file C:\\Missing\\b.txt");
    EXPECT_EQ(machine.Read("C:\\Out\\a.txt"), "old");
    EXPECT_EQ(OutFiles(), std::vector<std::string>{"a.txt"});
    EXPECT_EQ(Log().back(), "File 2: C:\\Missing\\b.txt");
}

// Every entry is in place before the suite's executable, whose presence
// tells the next run that the update is done; a move that fails leaves it out.
TEST_F(Unpack, SuiteExecutableIsMovedInLast) {
    ScriptedPlatform recorded(machine.platform());
    TForm1 update(recorded);
    update.ProgramStarted = true;
    update.ExpectedFiles = 20;
    machine.MakeFolders("C:\\TSLData\\QLR");
    const std::string exe = "C:\\TSLData\\QLR\\QLR6-39.exe", tovanel = "C:\\TSLData\\QLR\\Tovanel.exe",
                      notes = "C:\\TSLData\\QLR\\notes.txt";
    machine.Write(kPak, Padded(PackageBytes({{exe, "6-39"}, {tovanel, "new tovanel"}, {notes, "6-39 notes"}})));
    EXPECT_TRUE(update.UnpackPackage(kPak));
    EXPECT_EQ(recorded.movedTo, (std::vector<std::string>{tovanel, notes, exe}));
    EXPECT_EQ(machine.Read(exe), "6-39");

    // The lower-case spelling of the same path is the same file.
    fs::remove(machine.Host(exe));
    recorded.movedTo.clear();
    machine.Write(kPak, Padded(PackageBytes({{"c:\\tsldata\\qlr\\qlr6-39.EXE", "6-39"}, {notes, "again"}})));
    EXPECT_TRUE(update.UnpackPackage(kPak));
    EXPECT_EQ(recorded.movedTo,
              (std::vector<std::string>{notes + ".1.qlrold", notes, "c:\\tsldata\\qlr\\qlr6-39.EXE"}));

    fs::remove(machine.Host(exe));
    recorded.refusedMoveTo = notes;
    try {
        update.UnpackPackage(kPak);
        FAIL() << "no exception";
    } catch (const RunError& error) {
        EXPECT_EQ(error.what(), "Cannot create file " + notes);
    }
    EXPECT_EQ(FilesIn("C:\\TSLData\\QLR"), (std::vector<std::string>{"Tovanel.exe", "notes.txt"}));
}

// The commit takes every old file aside before any new one goes in: a file
// that another program holds stops the whole package, a later run installs
// it, and a kill between any two moves is finished by the next run before
// the application starts.
class Commit : public Unpack {
protected:
    void SetUp() override {
        Unpack::SetUp();
        machine.MakeFolders("C:\\TSLData\\QLR");
        for (const char* name : kReplaced) machine.Write(Qlr(name), std::string("6-38 ") + name);
        package = Padded(PackageBytes({{Qlr("QLR6-39.exe"), "6-39"},
                                       {Qlr("Tovanel.exe"), "6-39 Tovanel.exe"},
                                       {Qlr("a.dll"), "6-39 a.dll"},
                                       {Qlr("some.dll"), "6-39 some.dll"},
                                       {Qlr("z.dll"), "6-39 z.dll"}}));
    }
    static constexpr const char* kReplaced[] = {"Tovanel.exe", "a.dll", "some.dll", "z.dll"};
    static std::string Qlr(const std::string& name) { return "C:\\TSLData\\QLR\\" + name; }
    // "6-38", "6-39", or what is wrong: the data folder holds one version whole and nothing else.
    std::string Installed() const {
        const std::vector<std::string> files = FilesIn("C:\\TSLData\\QLR");
        for (const char* version : {"6-38", "6-39"}) {
            std::vector<std::string> expected(std::begin(kReplaced), std::end(kReplaced));
            if (std::string(version) == "6-39") expected.insert(expected.begin(), "QLR6-39.exe");
            bool whole = files == expected;
            for (const char* name : kReplaced)
                whole = whole && machine.Read(Qlr(name)) == std::string(version) + " " + name;
            if (whole) return version;
        }
        std::string found;
        for (const std::string& name : files) found += name + " ";
        return "mixed: " + found;
    }
    std::string package;
};

TEST_F(Commit, FileHeldByAnotherProgramInstallsNothingUntilItIsFree) {
    machine.Deny("file " + Qlr("some.dll"));
    EXPECT_EQ(Failure(package), "Cannot create file " + Qlr("some.dll"));
    EXPECT_EQ(Installed(), "6-38");
    EXPECT_TRUE(machine.Exists(kPak));  // for the next run

    fs::remove(machine.Root() / "sandbox-denied.txt");
    EXPECT_TRUE(Run(package));
    EXPECT_EQ(Installed(), "6-39");
}

TEST_F(Commit, KillBetweenAnyTwoMovesLeavesOneWholeVersionWhenTheApplicationStarts) {
    // With nothing held: three old files go aside (the running startup program is copied), five new ones in, the
    // running program moved out of their way between. With some.dll held: a.dll goes aside, some.dll cannot, a.dll
    // comes back. A kill before each try of a move; the next start, from a shortcut, is the Program Files copy,
    // which finishes (or, once a rollback has begun, undoes) the commit before it hands over to the data folder.
    struct Case {
        const char* held;
        std::size_t tries, undoneFrom;
    };
    for (const Case& c : {Case{"", 10, 10}, Case{"some.dll", 3, 2}}) {
        for (std::size_t move = 0; move < c.tries; ++move) {
            SCOPED_TRACE(std::string("held: ") + c.held + ", killed before try " + std::to_string(move));
            fs::remove_all(machine.Host("C:\\TSLData\\QLR"));
            SetUp();
            machine.Write(kPak, package);
            if (*c.held) machine.Deny("file " + Qlr(c.held));
            const pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                ScriptedPlatform dying(machine.platform());
                dying.endAtMove = move;
                dying.runningProgram = Qlr("Tovanel.exe");
                TForm1 killed(dying);
                killed.ProgramStarted = true;
                try {
                    killed.UnpackPackage(kPak);
                } catch (const RunError&) {
                }
                std::_Exit(3);  // the move never came
            }
            int status = 0;
            ASSERT_EQ(waitpid(child, &status, 0), child);
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

            fs::remove(machine.Root() / "sandbox-denied.txt");
            TForm1 next(machine.platform());
            next.FinishInterruptedCommit();
            EXPECT_EQ(Installed(), move >= c.undoneFrom ? "6-38" : "6-39");
        }
    }
}

// The package is read from the one handle it was opened with: one renamed
// over it during the run changes nothing that is installed.
TEST_F(Unpack, PackageRenamedOverDuringTheRunIsNotWhatIsInstalled) {
    ScriptedPlatform attacked(machine.platform());
    TForm1 keyed(attacked);
    keyed.ProgramStarted = true;
    keyed.ReleaseKeys = ParsePublicKeys(FileBytes(TestKey("test-release-public.pem")));
    machine.Write(kPak, SignedPackage(Padded(PackageBytes({{"C:\\Out\\QLR6-39.exe", "6-39"}})), "QLR6-39"));
    machine.Write("C:\\Temp\\evil.pak", Padded(PackageBytes({{"C:\\Out\\evil.txt", "evil"}})));
    attacked.afterOpen = [&](const std::string& path) {
        if (path == kPak && machine.Exists("C:\\Temp\\evil.pak"))
            fs::rename(machine.Host("C:\\Temp\\evil.pak"), machine.Host(kPak));
    };
    EXPECT_TRUE(keyed.UnpackPackage(kPak));
    EXPECT_EQ(OutFiles(), std::vector<std::string>{"QLR6-39.exe"});
}

TEST_F(Unpack, LeftoversOfAKilledRunAreRemovedButNotThoseOfARunAtWork) {
    machine.Write("C:\\Out\\a.txt.1.qlrtmp", "half of a killed run's file");
    machine.Write("C:\\Out\\older.qlrtmp", "an earlier build's leftover");
    machine.Write("C:\\Out\\notes.qlrtmp.txt", "not ours");
    auto live = machine.platform().CreateNewFile("C:\\Out\\b.txt.1.qlrtmp");  // another run, still writing
    ASSERT_TRUE(live);
    EXPECT_TRUE(Run(Padded(PackageBytes({{"C:\\Out\\a.txt", "new a"}, {"C:\\Out\\b.txt", "new b"}}))));
    EXPECT_EQ(machine.Read("C:\\Out\\a.txt"), "new a");
    EXPECT_EQ(machine.Read("C:\\Out\\b.txt"), "new b");
    EXPECT_EQ(OutFiles(), (std::vector<std::string>{"a.txt", "b.txt", "b.txt.1.qlrtmp", "notes.qlrtmp.txt"}));
}

TEST_F(Unpack, MissingPackageCannotBeOpened) {
    form.ProgramStarted = false;
    try {
        form.UnpackPackage("C:\\Temp\\QLR\\nothing.pak");
        FAIL() << "no exception";
    } catch (const RunError& error) {
        EXPECT_STREQ(error.what(), "Cannot open file C:\\Temp\\QLR\\nothing.pak");
    }
    EXPECT_EQ(Log(), std::vector<std::string>{"Gauge = 0"});
}

// Every broken entry: the message the caller sees, the earlier file at the
// path untouched, and nothing half-written left beside it.
TEST_F(Unpack, BrokenEntryLeavesTheOldFileAsItWas) {
    const std::string target = "C:\\Out\\keep.txt";
    const std::string content = "the new content of the file";
    std::string flipped = EntryBytes(target, static_cast<std::int32_t>(content.size()), content);
    flipped.back() ^= 0x01;  // the Adler-32 trailer
    std::string huge;
    PutInt32(huge, 0x7fffffff);
    huge += target;
    struct Case {
        const char* what;
        std::string entry;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"checksum", flipped, "error"},
        {"zero size", EntryBytes(target, 0, content), kDamaged},
        {"stream shorter than declared", EntryBytes(target, static_cast<std::int32_t>(content.size()) + 1, content),
         kDamaged},
        {"stream longer than declared", EntryBytes(target, static_cast<std::int32_t>(content.size()) - 1, content),
         kDamaged},
        {"negative size", EntryBytes(target, -5, content), kDamaged},
        {"name length 0", CountBytes(0) + CountBytes(5), kDamaged},
        {"negative name length", CountBytes(-1) + target, kDamaged},
        {"name length beyond the file", huge, kDamaged},
        {"not zlib data", CountBytes(static_cast<std::int32_t>(target.size())) + target + CountBytes(4) + "abcdefgh",
         "error"},
    };
    for (const Case& c : cases) {
        machine.Write(target, "old");
        EXPECT_EQ(Failure(Padded(CountBytes(1) + c.entry)), c.message) << c.what;
        EXPECT_EQ(machine.Read(target), "old") << c.what;
        EXPECT_EQ(OutFiles(), std::vector<std::string>{"keep.txt"}) << c.what;
    }
}

// An entry may name only a plain file on drive C:. Any other path makes the
// whole package damaged before anything is written, even the sound entry
// before it.
TEST_F(Unpack, EntryPathsOffDriveCOrWithTricksMakeThePackageDamaged) {
    const std::vector<std::string> hostile = {
        "Z:\\tmp\\evil.txt",
        "D:\\evil.txt",
        "C:\\..\\evil.txt",
        "C:\\Out\\..\\..\\evil.txt",
        "\\\\?\\C:\\Out\\evil.txt",
        "\\\\.\\C:\\Out\\evil.txt",
        "\\\\server\\share\\evil.txt",
        "C:\\Out\\evil.txt:stream",
        "C:evil.txt",
        "Out\\evil.txt",
        "\\Out\\evil.txt",
        "C:\\Out\\.\\evil.txt",
        "C:\\Out\\...\\evil.txt",
        "C:\\Out\\evil.txt.",
        "C:\\Out\\evil.txt ",
        "C:\\Out\\\\evil.txt",
        "C:\\Out\\NUL",
        "C:\\Out\\com1.txt",
        "C:\\Out\\evil?.txt",
        std::string("C:\\Out\\ev\x01il.txt"),
        "C:\\",
        "C:\\Out\\",
    };
    machine.Write("C:\\Out\\keep.txt", "old");
    for (const std::string& name : hostile) {
        const std::string package = Padded(PackageBytes({{"C:\\Out\\keep.txt", "new"}, {name, "evil"}}));
        machine.Write(kPak, package);
        const std::set<std::string> before = Everything();
        EXPECT_EQ(Failure(package), kDamaged) << name;
        EXPECT_EQ(Everything(), before) << name;
        EXPECT_EQ(machine.Read("C:\\Out\\keep.txt"), "old") << name;
    }
    // What a path on drive C: may look like.
    const std::vector<std::string> sound = {"c:\\out\\lower.txt", "C:/Out/slashes.txt", "C:\\Out\\with blanks.txt",
                                            "C:\\Out\\a.b.c", "C:\\Out\\consent.txt"};
    std::vector<PackageEntry> entries;
    for (const std::string& name : sound) entries.push_back({name, name});
    EXPECT_TRUE(Run(Padded(PackageBytes(entries))));
    for (const std::string& name : sound) {
        std::string backslashed = name;
        std::replace(backslashed.begin(), backslashed.end(), '/', '\\');
        EXPECT_EQ(machine.Read(backslashed), name);
    }
}

// A read that fails is an error of its own, not the end of the file: the
// package is not called damaged, a server message is not cut short, a
// list or options file does not lose its end.
TEST_F(Unpack, FailedReadIsAnErrorNotTheEndOfTheFile) {
    ScriptedPlatform faulty(machine.platform());
    TForm1 update(faulty);
    update.ProgramStarted = true;
    update.ExpectedFiles = 20;
    const std::string kCannotRead = std::string("Cannot read file ") + kPak;
    struct Case {
        const char* what;
        std::string bytes;
        std::int64_t failAt;
    };
    const std::vector<PackageEntry> entries = {{"C:\\Out\\one.bin", Incompressible(70000, 8)},
                                               {"C:\\Out\\two.bin", Incompressible(90000, 9)}};
    const Case cases[] = {
        {"inside the first entry", PackageBytes(entries), 30000},
        {"inside the last entry", PackageBytes(entries), 150000},
        {"at the count", PackageBytes(entries), 2},
        {"server message", "Service closed for maintenance", 10},
    };
    for (const Case& c : cases) {
        machine.Write(kPak, c.bytes);
        faulty.readLimit = c.failAt;
        update.Memo4.Clear();
        try {
            update.UnpackPackage(kPak);
            ADD_FAILURE() << c.what << ": no exception";
        } catch (const RunError& error) {
            EXPECT_EQ(error.what(), kCannotRead) << c.what;
        }
        EXPECT_TRUE(OutFiles().empty()) << c.what;
        EXPECT_EQ(update.Memo4.Text(), "") << c.what;
    }
    machine.Write("C:\\Temp\\QLR\\UpdateList.txt", "QLR6-38\r\nQLR6-39\r\n");
    faulty.readLimit = 9;
    try {
        ReadTextLines(faulty, "C:\\Temp\\QLR\\UpdateList.txt");
        ADD_FAILURE() << "no exception";
    } catch (const RunError& error) {
        EXPECT_STREQ(error.what(), "Cannot read file C:\\Temp\\QLR\\UpdateList.txt");
    }
    faulty.readLimit = 1000;  // past the end: read whole
    EXPECT_EQ(ReadTextLines(faulty, "C:\\Temp\\QLR\\UpdateList.txt"), (std::vector<std::string>{"QLR6-38", "QLR6-39"}));
}

TEST_F(Unpack, EveryTruncationIsReportedAsDamaged) {
    const std::vector<PackageEntry> entries = {{"C:\\Out\\one.bin", Incompressible(600, 2)},
                                               {"C:\\Out\\two.bin", Incompressible(300, 3)}};
    const std::string package = PackageBytes(entries);
    ASSERT_GT(package.size(), 900u);
    for (std::size_t cut = 501; cut < package.size(); ++cut) {
        ASSERT_EQ(Failure(package.substr(0, cut)), kDamaged) << "cut at " << cut;
        ASSERT_TRUE(OutFiles().empty()) << "cut at " << cut;  // not even the complete first entry
    }
}

// Random damage of every kind: the unpack ends with one of its own messages,
// never reads or writes out of bounds (the sanitizers watch), and leaves no
// temporary file anywhere.
TEST_F(Unpack, RandomDamageEndsCleanly) {
    const std::vector<PackageEntry> entries = {{"C:\\Out\\one.bin", Incompressible(700, 6)},
                                               {"C:\\Out\\two.txt", std::string(3000, 't')}};
    const std::string good = PackageBytes(entries);
    std::uint32_t state = 20261208;
    auto next = [&state](std::uint32_t below) {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % below;
    };
    for (int round = 0; round < 1500; ++round) {
        std::string bad = good;
        for (std::uint32_t n = 1 + next(4); n > 0; --n) {
            switch (next(4)) {
                case 0:  // a flipped bit
                    bad[next(static_cast<std::uint32_t>(bad.size()))] ^= static_cast<char>(1u << next(8));
                    break;
                case 1:  // cut short, past the server-message size
                    if (bad.size() > 501) bad.resize(501 + next(static_cast<std::uint32_t>(bad.size() - 501)));
                    break;
                case 2: {  // a length or size field set to an extreme
                    static const std::int32_t extremes[] = {0, -1, 1, 0x7fffffff, INT32_MIN, 501, 100000};
                    std::string field;
                    PutInt32(field, extremes[next(7)]);
                    bad.replace(next(static_cast<std::uint32_t>(bad.size() - 4)), 4, field);
                    break;
                }
                default:  // bytes gone from the middle
                    bad.erase(next(static_cast<std::uint32_t>(bad.size() - 40)), 1 + next(32));
                    bad = Padded(bad);
            }
        }
        form.Memo3.Clear();
        const std::string message = Failure(bad);
        const bool known = message.empty() || message == kDamaged || message == "error" ||
                           message.rfind("Cannot create file ", 0) == 0;
        ASSERT_TRUE(known) << "round " << round << ": " << message;
    }
    for (const auto& item : fs::recursive_directory_iterator(machine.Root()))
        EXPECT_EQ(item.path().string().find(".qlrtmp"), std::string::npos) << item.path();
}

TEST_F(Unpack, ProgressCountsTheEntryBeingUnpacked) {
    std::vector<PackageEntry> entries;
    for (int i = 1; i <= 25; ++i) entries.push_back({"C:\\Out\\" + std::to_string(i), "x"});
    const std::string package = Padded(PackageBytes(entries));

    form.ProgramStarted = false;
    form.f_progress = std::make_unique<Tf_progress>();
    form.f_progress->Gauge1.SetProgress(30);
    EXPECT_TRUE(Run(package));
    EXPECT_EQ(Log().front(), "Gauge = 30");
    EXPECT_EQ(form.Edit9.Text(), "25");
    EXPECT_EQ(form.Edit10.Text(), "20");
    EXPECT_EQ(form.Edit11.Text(), "125");  // not limited
    EXPECT_EQ(form.f_progress->Gauge1.Progress(), 100);

    // An application already started: no gauge line, the gauge left alone, the edits still written.
    form.ProgramStarted = true;
    form.ExpectedFiles = 250;
    form.f_progress->Gauge1.SetProgress(42);
    form.Memo3.Clear();
    EXPECT_TRUE(Run(package));
    EXPECT_EQ(Log().front(), "Decoding 25 files");
    EXPECT_EQ(form.Edit11.Text(), "10");
    EXPECT_EQ(form.f_progress->Gauge1.Progress(), 42);
}

TEST_F(Unpack, StreamIsNeverHeldWholeInMemory) {
    // 40 MB of zeros inflates from a few KB; the reader hands it on in pieces.
    const std::string big(40 * 1024 * 1024, '\0');
    const std::string package = Padded(PackageBytes({{"C:\\Out\\zeros.bin", big}}));
    ASSERT_LT(package.size(), 100000u);
    machine.Write(kPak, package);
    auto file = machine.platform().OpenForRead(kPak);
    PackageReader reader(*file, kPak);
    ASSERT_EQ(reader.ReadCount(), 1);
    const qlr::PackageEntry entry = reader.ReadEntryHeader();
    std::size_t largest = 0, total = 0;
    reader.InflateEntry(entry.size, [&](const char*, std::size_t n) {
        largest = std::max(largest, n);
        total += n;
        return true;
    });
    EXPECT_EQ(total, big.size());
    EXPECT_LE(largest, 64u * 1024u);
}

TEST_F(Unpack, FailedWriteIsAStreamWriteError) {
    ScriptedPlatform limited(machine.platform());
    limited.writeLimit = 1000;
    TForm1 small(limited);
    small.ProgramStarted = true;
    small.ExpectedFiles = 20;
    machine.Write("C:\\Out\\big.bin", "old");
    machine.Write(kPak, Padded(PackageBytes({{"C:\\Out\\big.bin", Incompressible(5000, 4)}})));
    try {
        small.UnpackPackage(kPak);
        FAIL() << "no exception";
    } catch (const RunError& error) {
        EXPECT_STREQ(error.what(), "Stream write error");
    }
    EXPECT_EQ(machine.Read("C:\\Out\\big.bin"), "old");
    EXPECT_EQ(OutFiles(), std::vector<std::string>{"big.bin"});
}

}  // namespace
}  // namespace qlr::testing
