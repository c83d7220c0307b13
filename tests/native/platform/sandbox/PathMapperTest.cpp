// Windows paths on the sandbox folder, and listing by wildcard mask.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "base/Text.h"
#include "native/support/SandboxMachine.h"
#include "platform/sandbox/PathMapper.h"

namespace qlr::sandbox {
namespace {

namespace fs = std::filesystem;

class PathMapperTest : public ::testing::Test {
protected:
    void SetUp() override {
        machine_.Write("C:\\TSLData\\QLR\\Tovanel.exe", "x");
        machine_.MakeFolders("C:\\Program Files\\Tessaly\\Quillory");
    }
    std::string Drive() const { return (machine_.Root() / "drive_c").string(); }

    testing::SandboxMachine machine_;
};

TEST_F(PathMapperTest, MapsPathsMatchingExistingNamesRegardlessOfCase) {
    struct Case {
        const char* windows;
        const char* host;      // below drive_c
        const char* reported;  // as Windows reports it
    } cases[] = {
        {"C:\\TSLData\\QLR", "/TSLData/QLR", "C:\\TSLData\\QLR"},
        {"c:\\tsldata\\qlr\\TOVANEL.EXE", "/TSLData/QLR/Tovanel.exe", "C:\\TSLData\\QLR\\Tovanel.exe"},
        {"C:/TSLData/QLR/", "/TSLData/QLR", "C:\\TSLData\\QLR"},
        {"c:\\program files\\tessaly\\quillory\\HelpFiles", "/Program Files/Tessaly/Quillory/HelpFiles",
         "C:\\Program Files\\Tessaly\\Quillory\\HelpFiles"},
        {"C:\\tsldata\\NewOne\\Deeper", "/TSLData/NewOne/Deeper", "C:\\TSLData\\NewOne\\Deeper"},
        {"C:\\TSLData\\.\\QLR\\..\\QLR\\\\Tovanel.exe", "/TSLData/QLR/Tovanel.exe", "C:\\TSLData\\QLR\\Tovanel.exe"},
        {"C:\\..\\..\\TSLData", "/TSLData", "C:\\TSLData"},
        {"C:\\TSLData\\QLR.", "/TSLData/QLR", "C:\\TSLData\\QLR"},
        {"C:\\", "", "C:\\"},
        {"\\TSLData", "/TSLData", "C:\\TSLData"},
        {"tsldata\\qlr", "/TSLData/QLR", "C:\\TSLData\\QLR"},
        {"C:TSLData", "/TSLData", "C:\\TSLData"},
    };
    PathMapper mapper(machine_.Root().string());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.windows);
        EXPECT_EQ(mapper.ToHost(c.windows), Drive() + c.host);
        EXPECT_EQ(mapper.ToWindows(c.windows), c.reported);
    }
}

TEST_F(PathMapperTest, RefusesOtherDrivesNetworkPathsAndInvalidNames) {
    PathMapper mapper(machine_.Root().string());
    for (const char* path : {"D:\\TSLData", "z:/tmp", "\\\\server\\share\\x", "//server/share", "\\\\?\\C:\\TSLData",
                             "", "C:\\a*b", "C:\\a?b", "C:\\TSLData\\x:y", "C:\\a|b", "C:\\a\"b", "1:\\x"}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(mapper.ToHost(path), std::nullopt);
    }
}

TEST_F(PathMapperTest, RelativePathsFollowTheCurrentFolder) {
    PathMapper mapper(machine_.Root().string());
    EXPECT_FALSE(mapper.SetCurrent("C:\\Missing"));
    EXPECT_FALSE(mapper.SetCurrent("C:\\TSLData\\QLR\\Tovanel.exe"));
    EXPECT_EQ(PathMapper::WindowsOf(mapper.Current()), "C:\\");
    ASSERT_TRUE(mapper.SetCurrent("c:\\tsldata\\qlr"));
    EXPECT_EQ(PathMapper::WindowsOf(mapper.Current()), "C:\\TSLData\\QLR");
    EXPECT_EQ(mapper.ToWindows("tovanel.exe"), "C:\\TSLData\\QLR\\Tovanel.exe");
    EXPECT_EQ(mapper.ToWindows(".."), "C:\\TSLData");
    EXPECT_EQ(mapper.ToWindows("..\\..\\..\\.."), "C:\\");
    EXPECT_EQ(mapper.ToWindows("c:Tovanel.exe"), "C:\\TSLData\\QLR\\Tovanel.exe");
    EXPECT_EQ(mapper.ToWindows("\\Program Files"), "C:\\Program Files");
}

TEST_F(PathMapperTest, StartsInTheProcessFolderOnlyWhenItLiesInTheDrive) {
    const fs::path before = fs::current_path();
    fs::current_path(machine_.Host("C:\\TSLData\\QLR"));
    PathMapper inside(machine_.Root().string());
    fs::current_path(machine_.Root());
    PathMapper outside(machine_.Root().string());
    fs::current_path(before);
    EXPECT_EQ(PathMapper::WindowsOf(inside.Current()), "C:\\TSLData\\QLR");
    EXPECT_EQ(PathMapper::WindowsOf(outside.Current()), "C:\\");
}

TEST_F(PathMapperTest, MapsHostPathsBackOnlyInsideTheDrive) {
    PathMapper mapper(machine_.Root().string());
    auto inside = mapper.FromHost(Drive() + "/TSLData/QLR/Tovanel.exe");
    ASSERT_TRUE(inside);
    EXPECT_EQ(PathMapper::WindowsOf(*inside), "C:\\TSLData\\QLR\\Tovanel.exe");
    EXPECT_EQ(mapper.FromHost(machine_.Root().string() + "/registry.txt"), std::nullopt);
    EXPECT_EQ(mapper.FromHost(Drive() + "_other/x"), std::nullopt);
}

TEST(WildcardTest, MatchesWholeNamesAsWindowsDoes) {
    struct Case {
        const char* name;
        const char* mask;
        bool matches;
    } cases[] = {
        {"QLR6-38.exe", "QLR6*.exe", true},
        {"qlr6-38.EXE", "QLR6*.exe", true},
        {"QLR6.exe", "QLR6*.exe", true},
        {"QLR6-38.exe.bak", "QLR6*.exe", false},
        {"QLR5-38.exe", "QLR6*.exe", false},
        {"xQLR6-38.exe", "QLR6*.exe", false},
        {"a.b.exe", "*.exe", true},
        {"readme", "*.*", true},
        {"abc", "a?c", true},
        {"ac", "a?c", false},
        {"abcb", "a*b", true},
        {"abcbd", "a*b", false},
        {"aXbYc", "a*b*c", true},
        {"anything", "*", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " ~ " + c.mask);
        EXPECT_EQ(MatchesWildcard(c.mask, c.name), c.matches);
    }
}

TEST(ListFilesTest, ListsOrdinaryVisibleFilesOfTheCurrentFolder) {
    testing::SandboxMachine machine;
    for (const char* name : {"QLR6-38.exe", "qlr6-9.EXE", "QLR6-38.exe.bak", ".QLR6-hidden.exe", "Other.exe"})
        machine.Write(std::string("C:\\TSLData\\QLR\\") + name, "x");
    machine.MakeFolders("C:\\TSLData\\QLR\\QLR6-folder.exe");
    Platform& platform = machine.platform();
    ASSERT_TRUE(platform.SetCurrentFolder("c:\\tsldata\\QLR"));
    EXPECT_EQ(platform.CurrentFolder(), "C:\\TSLData\\QLR");
    auto names = platform.ListFiles("QLR6*.exe");
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"QLR6-38.exe", "qlr6-9.EXE"}));
    EXPECT_EQ(platform.ListFiles("*.bak"), std::vector<std::string>{"QLR6-38.exe.bak"});
}

}  // namespace
}  // namespace qlr::sandbox
