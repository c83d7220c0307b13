// The Windows platform's files, folders, listings and failure report, on a real (Wine) file system.

#include <algorithm>

#include "platform/win32/Win32Platform.h"
#include "windows/support/WineMachine.h"

namespace qlr::testing {
namespace {

class PlatformFiles : public WineMachine {
protected:
    std::unique_ptr<Platform> platform = win32::CreateWin32Platform();

    std::vector<std::string> Sorted(std::vector<std::string> names) {
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(PlatformFiles, ListFilesMatchesLongNamesOnlyAndSkipsFoldersHiddenAndSystemFiles) {
    const std::string folder = "C:\\Temp\\list";
    for (const char* name : {"QLR6-38.exe", "QLR6-9.exe", "qlr6-40.EXE", "QLR6-38.exebak", "QLR5-1.exe",
                             "QLR6-38.exe.old-123", "noext", "Shifter.exe", "QLR6-hidden.exe", "QLR6-system.exe"})
        WriteBytes(folder + "\\" + name, "x");
    ::SetFileAttributesA((folder + "\\QLR6-hidden.exe").c_str(), FILE_ATTRIBUTE_HIDDEN);
    ::SetFileAttributesA((folder + "\\QLR6-system.exe").c_str(), FILE_ATTRIBUTE_SYSTEM);
    MakeFolders(folder + "\\QLR6-folder.exe");
    ASSERT_TRUE(platform->SetCurrentFolder(folder));
    EXPECT_EQ(platform->CurrentFolder(), folder);

    struct Case {
        const char* mask;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"QLR6*.exe", {"QLR6-38.exe", "QLR6-9.exe", "qlr6-40.EXE"}},
        {"QLR*.exe", {"QLR5-1.exe", "QLR6-38.exe", "QLR6-9.exe", "qlr6-40.EXE"}},
        {"QLR6-?.exe", {"QLR6-9.exe"}},
        {"*.*",
         {"QLR5-1.exe", "QLR6-38.exe", "QLR6-38.exe.old-123", "QLR6-38.exebak", "QLR6-9.exe", "Shifter.exe", "noext",
          "qlr6-40.EXE"}},
        {"nothing*.exe", {}},
        {"c:\\temp\\LIST\\QLR6-?.exe", {"QLR6-9.exe"}},  // a folder in the mask
    };
    for (const Case& c : cases) EXPECT_EQ(Sorted(platform->ListFiles(c.mask)), Sorted(c.expected)) << c.mask;
}

TEST_F(PlatformFiles, CurrentFolderStaysWhenTheNewOneIsMissing) {
    MakeFolders("C:\\Temp\\here");
    ASSERT_TRUE(platform->SetCurrentFolder("C:\\Temp\\here\\"));
    EXPECT_EQ(platform->CurrentFolder(), "C:\\Temp\\here");
    EXPECT_FALSE(platform->SetCurrentFolder("C:\\Temp\\not-there"));
    EXPECT_EQ(platform->CurrentFolder(), "C:\\Temp\\here");
}

TEST_F(PlatformFiles, FileAndFolderTestsTellThemApart) {
    WriteBytes("C:\\Temp\\a\\file.txt", "x");
    EXPECT_TRUE(platform->FileExists("C:\\Temp\\a\\file.txt"));
    EXPECT_TRUE(platform->FileExists("c:\\temp\\A\\FILE.TXT"));
    EXPECT_FALSE(platform->FolderExists("C:\\Temp\\a\\file.txt"));
    EXPECT_TRUE(platform->FolderExists("C:\\Temp\\a"));
    EXPECT_FALSE(platform->FileExists("C:\\Temp\\a"));
    EXPECT_FALSE(platform->FileExists("C:\\Temp\\a\\missing.txt"));
    // One level at a time: a missing parent is not made.
    EXPECT_FALSE(platform->MakeFolder("C:\\Temp\\b\\c"));
    EXPECT_TRUE(platform->MakeFolder("C:\\Temp\\b"));
    EXPECT_FALSE(platform->MakeFolder("C:\\Temp\\b"));
}

TEST_F(PlatformFiles, StreamsCreateTruncateReadSeekAndHoldTheFileExclusively) {
    const std::string path = "C:\\Temp\\stream.bin";
    WriteBytes(path, "an older and longer content");
    {
        auto file = platform->CreateNewFile(path);
        ASSERT_TRUE(file);
        EXPECT_EQ(file->Size(), 0);
        EXPECT_EQ(file->Write("0123456789", 10), 10u);
        EXPECT_EQ(file->Position(), 10);
        EXPECT_EQ(platform->OpenForRead(path), nullptr) << "not shared while open";
        ASSERT_TRUE(file->Seek(4));
        char buffer[16] = {};
        EXPECT_EQ(file->Read(buffer, sizeof buffer).count, 6u);
        EXPECT_EQ(std::string(buffer, 6), "456789");
        const FileRead end = file->Read(buffer, sizeof buffer);
        EXPECT_EQ(end.count, 0u);
        EXPECT_FALSE(end.failed) << "the end of the file is no failure";
    }
    auto again = platform->OpenForRead(path);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->Size(), 10);
    EXPECT_EQ(again->Write("x", 1), 0u) << "opened for reading only";
    EXPECT_EQ(platform->OpenForRead("C:\\Temp\\missing.bin"), nullptr);
    EXPECT_EQ(platform->CreateNewFile("C:\\Temp\\no-such-folder\\file.bin"), nullptr);
}

// Reading shares the file with whatever another program holds it open for;
// only a holder that shares nothing keeps it to itself.
TEST_F(PlatformFiles, ReadingSharesTheFileWithOtherHolders) {
    const std::string path = "C:\\Temp\\shared.txt";
    WriteBytes(path, "SchoolName=Hill");
    struct Holder {
        const char* what;
        DWORD access, share;
        bool readable, movable;  // movable: a commit can move it aside (else it rolls back)
    };
    const Holder holders[] = {
        {"reading, sharing reads", GENERIC_READ, FILE_SHARE_READ, true, false},
        {"writing, sharing reads and writes", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, true,
         false},
        {"reading, sharing everything", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true,
         true},
        {"deleting, sharing reads and deletes", GENERIC_READ | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE, true, true},
        {"reading, sharing nothing", GENERIC_READ, 0, false, false},
    };
    for (const Holder& holder : holders) {
        win32::UniqueHandle held(
            ::CreateFileA(path.c_str(), holder.access, holder.share, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held) << holder.what;
        const bool moved = platform->MoveOver(path, path + ".1.qlrold");
        EXPECT_EQ(moved, holder.movable) << holder.what;
        if (moved) {
            ASSERT_TRUE(platform->MoveOver(path + ".1.qlrold", path)) << holder.what;
        }
        auto file = platform->OpenForRead(path);
        ASSERT_EQ(file != nullptr, holder.readable) << holder.what;
        if (!file) continue;
        char buffer[32] = {};
        const FileRead read = file->Read(buffer, sizeof buffer);
        EXPECT_FALSE(read.failed) << holder.what;
        EXPECT_EQ(std::string(buffer, read.count), "SchoolName=Hill") << holder.what;
    }
}

// A pipe whose writer breaks the connection: the read fails, and says so.
TEST_F(PlatformFiles, FailedReadIsNotTheEndOfTheFile) {
    const std::string pipe = "\\\\.\\pipe\\qlr-failed-read-" + std::to_string(::GetCurrentProcessId());
    win32::UniqueHandle writer(
        ::CreateNamedPipeA(pipe.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr));
    ASSERT_TRUE(writer);
    auto file = platform->OpenForRead(pipe);
    ASSERT_TRUE(file);
    ASSERT_TRUE(::DisconnectNamedPipe(writer.get()));
    char buffer[16];
    const FileRead read = file->Read(buffer, sizeof buffer);
    EXPECT_TRUE(read.failed);
    EXPECT_EQ(read.count, 0u);
}

TEST_F(PlatformFiles, ExclusiveCreationAndRemovalRespectOpenFiles) {
    const std::string path = "C:\\Temp\\exclusive.bin";
    WriteBytes(path, "kept");
    EXPECT_EQ(platform->CreateFileExclusive(path), nullptr);
    EXPECT_EQ(ReadBytes(path), "kept");
    ASSERT_TRUE(platform->RemoveFile(path));
    auto file = platform->CreateFileExclusive(path);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->Write("new", 3), 3u);
    EXPECT_TRUE(file->Sync());
    EXPECT_FALSE(platform->RemoveFile(path)) << "open unshared";
    file.reset();
    // A held file (a package from its signature check to its unpack) is read by others, never replaced.
    auto held = platform->OpenAndHold(path);
    ASSERT_TRUE(held);
    WriteBytes("C:\\Temp\\swap.bin", "theirs");
    EXPECT_FALSE(platform->MoveOver("C:\\Temp\\swap.bin", path)) << "held";
    EXPECT_FALSE(platform->RemoveFile(path)) << "held";
    EXPECT_EQ(ReadBytes(path), "new");
    held.reset();
    EXPECT_TRUE(platform->RemoveFile(path));
    EXPECT_EQ(platform->CreateFileExclusive("C:\\Temp\\no-such-folder\\x.bin"), nullptr);
}

TEST_F(PlatformFiles, AppendToFileCreatesThenAppends) {
    const std::string path = "C:\\Temp\\append.txt";
    MakeFolders("C:\\Temp");
    EXPECT_TRUE(platform->AppendToFile(path, "one\r\n"));
    EXPECT_TRUE(platform->AppendToFile(path, "two\r\n"));
    EXPECT_EQ(ReadBytes(path), "one\r\ntwo\r\n");
    EXPECT_FALSE(platform->AppendToFile("C:\\Temp\\no-such-folder\\append.txt", "x"));
}

TEST_F(PlatformFiles, CopyAndMoveReplaceTheTarget) {
    WriteBytes("C:\\Temp\\m\\from.txt", "new");
    WriteBytes("C:\\Temp\\m\\to.txt", "old and longer");
    EXPECT_TRUE(platform->CopyFileOver("C:\\Temp\\m\\from.txt", "C:\\Temp\\m\\copy.txt"));
    EXPECT_TRUE(platform->CopyFileOver("C:\\Temp\\m\\from.txt", "C:\\Temp\\m\\copy.txt"));
    EXPECT_EQ(ReadBytes("C:\\Temp\\m\\copy.txt"), "new");

    EXPECT_TRUE(platform->MoveOver("C:\\Temp\\m\\from.txt", "C:\\Temp\\m\\to.txt"));
    EXPECT_EQ(ReadBytes("C:\\Temp\\m\\to.txt"), "new");
    EXPECT_FALSE(PathExists("C:\\Temp\\m\\from.txt"));

    EXPECT_FALSE(platform->MoveOver("C:\\Temp\\m\\from.txt", "C:\\Temp\\m\\to.txt")) << "source is gone";
    EXPECT_EQ(ReadBytes("C:\\Temp\\m\\to.txt"), "new");
}

TEST_F(PlatformFiles, DeleteFolderTreeRemovesEverythingBelowForGood) {
    WriteBytes("C:\\Temp\\QLR\\Firebird\\setup.exe", "x");
    WriteBytes("C:\\Temp\\QLR\\read-only.txt", "x");
    ::SetFileAttributesA("C:\\Temp\\QLR\\read-only.txt", FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(platform->DeleteFolderTree("C:\\Temp\\QLR"));
    EXPECT_FALSE(PathExists("C:\\Temp\\QLR"));
    EXPECT_TRUE(PathExists("C:\\Temp"));
    EXPECT_FALSE(platform->DeleteFolderTree("C:\\Temp\\QLR"));
}

TEST_F(PlatformFiles, ReportFailureWritesTheTextToTheTempFolderReplacingAnEarlierReport) {
    char temp[MAX_PATH + 1] = {};
    ASSERT_NE(::GetTempPathA(sizeof temp, temp), 0u);
    const std::string report = std::string(temp) + "Tovanel failure.txt";
    platform->ReportFailure("first report, which is the longer one\r\n");
    platform->ReportFailure("second\r\nreport");
    EXPECT_EQ(ReadBytes(report), "second\r\nreport");
}

}  // namespace
}  // namespace qlr::testing
