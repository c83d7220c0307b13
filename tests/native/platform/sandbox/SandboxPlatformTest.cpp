// Files and folders on the sandbox platform, and the denials that play locks
// and missing rights.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "native/support/SandboxMachine.h"
#include "platform/sandbox/FdStream.h"
#include "platform/sandbox/SandboxPlatform.h"

namespace qlr::sandbox {
namespace {

namespace fs = std::filesystem;

class SandboxFilesTest : public ::testing::Test {
protected:
    bool OwnerMayExecute(const std::string& windowsPath) {
        struct stat info;
        return stat(machine_.Host(windowsPath).c_str(), &info) == 0 && (info.st_mode & S_IXUSR);
    }
    std::string ReadAll(const std::string& windowsPath) {
        auto stream = platform().OpenForRead(windowsPath);
        if (!stream) return "<cannot open>";
        std::string text(static_cast<std::size_t>(stream->Size()), '\0');
        text.resize(stream->Read(text.data(), text.size()).count);
        return text;
    }
    bool Create(const std::string& windowsPath, const std::string& text) {
        auto stream = platform().CreateNewFile(windowsPath);
        return stream && stream->Write(text.data(), text.size()) == text.size();
    }
    Platform& platform() { return machine_.platform(); }

    testing::SandboxMachine machine_;
};

TEST_F(SandboxFilesTest, MakesOneFolderLevelAtATime) {
    Platform& p = platform();
    EXPECT_FALSE(p.MakeFolder("C:\\TSLData\\QLR"));  // parent missing
    EXPECT_TRUE(p.MakeFolder("C:\\TSLData"));
    EXPECT_FALSE(p.MakeFolder("c:\\tsldata"));  // exists, in another case
    EXPECT_TRUE(p.MakeFolder("c:\\tsldata\\QLR"));
    EXPECT_TRUE(fs::is_directory(machine_.Root() / "drive_c/TSLData/QLR"));
    EXPECT_TRUE(p.FolderExists("C:\\TSLDATA\\qlr"));
    EXPECT_FALSE(p.FileExists("C:\\TSLData\\QLR"));
    EXPECT_FALSE(p.MakeFolder("C:\\"));
    EXPECT_FALSE(p.MakeFolder("D:\\TSLData"));
}

TEST_F(SandboxFilesTest, WritesReadsAndAppendsFilesThatTheOwnerMayRun) {
    Platform& p = platform();
    ASSERT_TRUE(Create("C:\\Program.exe", "first version, long"));
    ASSERT_TRUE(Create("c:\\PROGRAM.EXE", "second"));  // truncates the same file
    EXPECT_EQ(ReadAll("C:\\Program.exe"), "second");
    EXPECT_TRUE(OwnerMayExecute("C:\\Program.exe"));
    EXPECT_TRUE(p.FileExists("C:\\program.exe"));
    EXPECT_FALSE(p.FolderExists("C:\\program.exe"));

    auto stream = p.OpenForRead("C:\\Program.exe");
    ASSERT_TRUE(stream);
    EXPECT_TRUE(stream->Seek(3));
    char tail[8] = {};
    EXPECT_EQ(stream->Read(tail, sizeof tail).count, 3u);
    EXPECT_EQ(std::string(tail), "ond");
    EXPECT_EQ(stream->Position(), 6);

    EXPECT_TRUE(p.AppendToFile("C:\\log.txt", "one\r\n"));
    EXPECT_TRUE(p.AppendToFile("C:\\LOG.TXT", "two\r\n"));
    EXPECT_EQ(ReadAll("C:\\log.txt"), "one\r\ntwo\r\n");
    EXPECT_TRUE(OwnerMayExecute("C:\\log.txt"));

    EXPECT_EQ(p.OpenForRead("C:\\missing.txt"), nullptr);
    EXPECT_EQ(p.CreateNewFile("C:\\NoFolder\\x.txt"), nullptr);
    EXPECT_FALSE(p.AppendToFile("E:\\log.txt", "x"));
}

TEST_F(SandboxFilesTest, CopiesAndMovesOverExistingFiles) {
    Platform& p = platform();
    machine_.Write("C:\\a.txt", "from a");
    machine_.Write("C:\\b.txt", "old b");
    fs::permissions(machine_.Host("C:\\a.txt"), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_TRUE(p.CopyFileOver("c:\\A.TXT", "C:\\b.txt"));
    EXPECT_EQ(machine_.Read("C:\\b.txt"), "from a");
    EXPECT_TRUE(OwnerMayExecute("C:\\b.txt"));
    EXPECT_FALSE(p.CopyFileOver("C:\\a.txt", "c:\\a.txt"));  // onto itself
    EXPECT_EQ(machine_.Read("C:\\a.txt"), "from a");
    EXPECT_FALSE(p.CopyFileOver("C:\\missing.txt", "C:\\c.txt"));
    EXPECT_FALSE(p.FileExists("C:\\c.txt"));
    machine_.MakeFolders("C:\\Folder");
    EXPECT_FALSE(p.CopyFileOver("C:\\a.txt", "C:\\Folder"));

    machine_.Write("C:\\new.txt", "new");
    EXPECT_TRUE(p.MoveOver("C:\\new.txt", "C:\\B.TXT"));
    EXPECT_EQ(machine_.Read("C:\\b.txt"), "new");
    EXPECT_FALSE(p.FileExists("C:\\new.txt"));
    EXPECT_FALSE(p.MoveOver("C:\\new.txt", "C:\\b.txt"));
    EXPECT_FALSE(p.MoveOver("C:\\a.txt", "C:\\Folder"));
}

TEST_F(SandboxFilesTest, RemovesFilesButNotFoldersNorFilesBeingWritten) {
    Platform& p = platform();
    machine_.Write("C:\\Temp\\x.txt", "x");
    EXPECT_FALSE(p.RemoveFile("C:\\Temp"));
    EXPECT_TRUE(p.RemoveFile("c:\\temp\\X.TXT"));
    EXPECT_FALSE(p.FileExists("C:\\Temp\\x.txt"));
    EXPECT_FALSE(p.RemoveFile("C:\\Temp\\x.txt"));
    // As on Windows, a file created unshared stays while it is open, even for its own program.
    for (bool exclusive : {false, true}) {
        auto open = exclusive ? p.CreateFileExclusive("C:\\Temp\\busy.txt") : p.CreateNewFile("C:\\Temp\\busy.txt");
        ASSERT_TRUE(open);
        EXPECT_FALSE(p.RemoveFile("C:\\Temp\\busy.txt"));
        open.reset();
        EXPECT_TRUE(p.RemoveFile("C:\\Temp\\busy.txt"));
    }
}

TEST_F(SandboxFilesTest, ExclusiveCreationNeverTakesAnExistingFile) {
    Platform& p = platform();
    machine_.Write("C:\\Temp\\there.txt", "kept");
    EXPECT_EQ(p.CreateFileExclusive("c:\\TEMP\\THERE.TXT"), nullptr);
    EXPECT_EQ(machine_.Read("C:\\Temp\\there.txt"), "kept");
    fs::create_symlink(machine_.Host("C:\\Temp\\there.txt"), machine_.Host("C:\\Temp") / "link.txt");
    EXPECT_EQ(p.CreateFileExclusive("C:\\Temp\\link.txt"), nullptr) << "a planted link is not followed";
    EXPECT_EQ(p.CreateFileExclusive("C:\\NoFolder\\x.txt"), nullptr);
    auto fresh = p.CreateFileExclusive("C:\\Temp\\fresh.txt");
    ASSERT_TRUE(fresh);
    EXPECT_EQ(fresh->Write("new", 3), 3u);
    EXPECT_TRUE(fresh->Sync());
    fresh.reset();
    EXPECT_EQ(machine_.Read("C:\\Temp\\fresh.txt"), "new");
}

TEST_F(SandboxFilesTest, ListsAFolderNamedInTheMask) {
    Platform& p = platform();
    for (const char* name : {"a.qlrtmp", "B.QLRTMP", "c.txt", ".hidden.qlrtmp"})
        machine_.Write(std::string("C:\\Temp\\QLR\\") + name, "x");
    machine_.MakeFolders("C:\\Temp\\QLR\\d.qlrtmp");
    std::vector<std::string> names = p.ListFiles("c:\\temp\\qlr\\*.qlrtmp");
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"B.QLRTMP", "a.qlrtmp"}));
    EXPECT_EQ(p.CurrentFolder(), "C:\\") << "the current folder stays";
    EXPECT_TRUE(p.ListFiles("C:\\Missing\\*.qlrtmp").empty());
}

TEST(FdStream, FailedReadIsNotTheEndOfTheFile) {
    const std::string folder = fs::temp_directory_path().string();
    FdStream directory(UniqueFd(::open(folder.c_str(), O_RDONLY | O_CLOEXEC)));  // read() fails: EISDIR
    char buffer[16];
    const FileRead failed = directory.Read(buffer, sizeof buffer);
    EXPECT_TRUE(failed.failed);
    EXPECT_EQ(failed.count, 0u);

    const std::string empty = folder + "/qlr-empty-" + std::to_string(::getpid());
    UniqueFd fd(::open(empty.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    ::unlink(empty.c_str());
    FdStream file(std::move(fd));
    const FileRead end = file.Read(buffer, sizeof buffer);
    EXPECT_FALSE(end.failed);
    EXPECT_EQ(end.count, 0u);
}

TEST_F(SandboxFilesTest, DeletesWholeTreesWithoutFollowingLinks) {
    Platform& p = platform();
    machine_.Write("C:\\Temp\\QLR\\Firebird\\setup.exe", "x");
    machine_.Write("C:\\Temp\\QLR\\UpdateList.txt", "x");
    machine_.Write("C:\\Outside\\keep.txt", "kept");
    fs::create_directory_symlink(machine_.Host("C:\\Outside"), machine_.Host("C:\\Temp\\QLR") / "link");
    EXPECT_TRUE(p.DeleteFolderTree("c:\\temp\\qlr"));
    EXPECT_FALSE(p.FolderExists("C:\\Temp\\QLR"));
    EXPECT_TRUE(p.FolderExists("C:\\Temp"));
    EXPECT_EQ(machine_.Read("C:\\Outside\\keep.txt"), "kept");
    EXPECT_FALSE(p.DeleteFolderTree("C:\\Temp\\QLR"));  // nothing to delete
    EXPECT_FALSE(p.DeleteFolderTree("C:\\"));
    EXPECT_TRUE(p.FolderExists("C:\\Temp"));
}

TEST_F(SandboxFilesTest, CurrentFolderIsReportedInTheCaseOnDisk) {
    Platform& p = platform();
    machine_.MakeFolders("C:\\TSLData\\QLR");
    EXPECT_TRUE(p.SetCurrentFolder("c:\\tsldata\\qlr\\"));
    EXPECT_EQ(p.CurrentFolder(), "C:\\TSLData\\QLR");
    EXPECT_FALSE(p.SetCurrentFolder("C:\\Missing"));
    EXPECT_FALSE(p.SetCurrentFolder("D:\\"));
    EXPECT_EQ(p.CurrentFolder(), "C:\\TSLData\\QLR");
    EXPECT_TRUE(p.SetCurrentFolder(".."));
    EXPECT_EQ(p.CurrentFolder(), "C:\\TSLData");
    EXPECT_TRUE(p.FolderExists("QLR"));  // relative to the current folder
}

TEST_F(SandboxFilesTest, DeniedFileCannotBeOpenedWrittenMovedOrRemoved) {
    Platform& p = platform();
    machine_.Write("C:\\Locked\\db.ib", "data");
    machine_.Write("C:\\other.ib", "other");
    machine_.Deny("file c:\\LOCKED\\DB.IB");
    EXPECT_EQ(p.OpenForRead("C:\\Locked\\db.ib"), nullptr);
    EXPECT_EQ(p.CreateNewFile("C:\\Locked\\db.ib"), nullptr);
    EXPECT_FALSE(p.AppendToFile("C:\\Locked\\db.ib", "x"));
    EXPECT_FALSE(p.CopyFileOver("C:\\other.ib", "C:\\Locked\\db.ib"));
    EXPECT_FALSE(p.CopyFileOver("C:\\Locked\\db.ib", "C:\\copy.ib"));
    EXPECT_FALSE(p.MoveOver("C:\\other.ib", "C:\\Locked\\db.ib"));
    EXPECT_FALSE(p.MoveOver("C:\\Locked\\db.ib", "C:\\moved.ib"));
    EXPECT_FALSE(p.RemoveFile("C:\\Locked\\db.ib"));
    EXPECT_FALSE(p.DeleteFolderTree("C:\\Locked"));
    EXPECT_EQ(machine_.Read("C:\\Locked\\db.ib"), "data");
    EXPECT_TRUE(p.FileExists("C:\\Locked\\db.ib"));  // still seen
    EXPECT_TRUE(p.CopyFileOver("C:\\other.ib", "C:\\Locked\\second.ib"));
}

TEST_F(SandboxFilesTest, DeniedFolderKeepsItselfAndItsContent) {
    Platform& p = platform();
    machine_.Write("C:\\Temp\\QLR\\Kept\\inner\\file.txt", "x");
    machine_.Write("C:\\Temp\\QLR\\Gone\\file.txt", "x");
    machine_.Deny("folder C:\\temp\\qlr\\kept");
    machine_.Deny("folder C:\\SchoolData");
    EXPECT_FALSE(p.MakeFolder("C:\\SchoolData"));
    EXPECT_FALSE(p.DeleteFolderTree("C:\\Temp\\QLR"));
    EXPECT_TRUE(p.FileExists("C:\\Temp\\QLR\\Kept\\inner\\file.txt"));
    EXPECT_FALSE(p.FolderExists("C:\\Temp\\QLR\\Gone"));
    EXPECT_EQ(p.CreateNewFile("C:\\Temp\\QLR\\Kept\\new.txt"), nullptr);
    EXPECT_FALSE(p.MakeFolder("C:\\Temp\\QLR\\Kept\\New"));
    EXPECT_FALSE(p.RemoveFile("C:\\Temp\\QLR\\Kept\\inner\\file.txt"));
    EXPECT_TRUE(p.AppendToFile("C:\\Temp\\QLR\\Kept\\inner\\file.txt", "y"));  // writing is allowed
}

TEST_F(SandboxFilesTest, ShellLinkIsSavedAtTheMappedPath) {
    Platform& p = platform();
    auto link = p.CreateShellLink();
    ASSERT_TRUE(link);
    link->SetPath("c:\\Program Files\\Tessaly\\Quillory\\Tovanel.exe");
    EXPECT_TRUE(link->Save("C:\\users\\office\\desktop\\Quillory.lnk"));
    EXPECT_TRUE(fs::is_regular_file(machine_.Root() / "drive_c/users/office/Desktop/Quillory.lnk"));
    EXPECT_FALSE(link->Save("C:\\users\\office\\Nowhere\\Quillory.lnk"));
    machine_.Deny("folder C:\\users\\office\\Start Menu\\Programs");
    EXPECT_FALSE(link->Save("C:\\users\\office\\Start Menu\\Programs\\Quillory.lnk"));
}

}  // namespace
}  // namespace qlr::sandbox
