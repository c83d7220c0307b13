// Desktop and Start-menu links: where they go, what they are called, what
// they point at, and what the run log says about them.

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "app/main.h"
#include "native/support/LnkInfo.h"
#include "native/support/PackageServer.h"
#include "platform/sandbox/RegistryFile.h"

namespace qlr::testing {
namespace {

constexpr const char* kShellFolders = "Software\\MicroSoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr const char* kShellFoldersKey = "HKCU\\Software\\MicroSoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr const char* kSuiteTarget = "c:\\Program Files\\Tessaly\\Quillory\\Tovanel.exe";

class ShortcutMachine {
public:
    std::string Folder(const char* value) {
        auto key = machine.platform().OpenRegistryKey(RegistryRoot::CurrentUser, kShellFolders, false);
        return key ? key->ReadValue(value).text : std::string();
    }
    void RemoveFolderValue(const std::string& name) {
        const auto file = machine.Root() / sandbox::kRegistryFileName;
        auto data = sandbox::RegistryData::Parse(FileBytes(file));
        auto* key = data.Find(kShellFoldersKey);
        ASSERT_NE(key, nullptr);
        std::erase_if(key->values, [&](const auto& v) { return v.name == name; });
        std::ofstream(file, std::ios::binary | std::ios::trunc) << data.Text();
    }
    void SetFolderValueToNumber(const std::string& name) {
        ASSERT_TRUE(sandbox::WriteRegistryValue(machine.Root().string(), kShellFoldersKey, name, "dword", "00000001"));
    }
    SandboxMachine machine;
};

// ---- one link at a time, in this process -----------------------------------

class MakeShortcutTest : public ::testing::Test, public ShortcutMachine {
protected:
    void SetUp() override { form.Memo3.SetText(""); }
    std::vector<std::string> LogLines() { return CrLfLines(form.Memo3.Text()); }
    TForm1 form{machine.platform()};
};

TEST_F(MakeShortcutTest, EachLocationCodeUsesItsRegistryFolder) {
    const std::string quickLaunch = "C:\\users\\" + machine.User() + "\\Quick Launch";
    machine.MakeFolders(quickLaunch);
    {
        auto grpConv =
            machine.platform().OpenRegistryKey(RegistryRoot::CurrentUser,
                                               "Software\\MicroSoft\\Windows\\CurrentVersion\\GrpConv\\MapGroups",
                                               true);
        ASSERT_TRUE(grpConv);
        grpConv->WriteString("Quick Launch", quickLaunch);
    }
    const struct {
        int code;
        std::string folder;
    } cases[] = {{1, Folder("Desktop")}, {2, Folder("Start Menu")}, {3, quickLaunch}, {4, Folder("Programs")}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        ASSERT_FALSE(c.folder.empty());
        form.Memo3.SetText("");
        form.MakeShortcut(kSuiteTarget, c.code);
        const std::string link = c.folder + "\\Tovanel.lnk";
        EXPECT_EQ(LogLines(), std::vector<std::string>{"Created Shortcut for " + link});
        EXPECT_EQ(LnkInfoLocalPath(machine.Host(link)), kSuiteTarget);
    }
}

TEST_F(MakeShortcutTest, NoFolderForTheLocationMakesNoLink) {
    RemoveFolderValue("Desktop");
    for (int code : {0, 1, 3, 5}) {  // 3: nothing under GrpConv on a fresh machine
        SCOPED_TRACE(code);
        form.Memo3.SetText("Creating Shortcuts\r\n");
        form.MakeShortcut(kSuiteTarget, code);
        EXPECT_EQ(form.Memo3.Text(), "Creating Shortcuts\r\nFAILED - no directory");
    }
}

TEST_F(MakeShortcutTest, LinkNameComesFromTheTargetsFileName) {
    const struct {
        const char* target;
        const char* link;
    } cases[] = {
        {"c:\\Program Files\\Tessaly\\Quillory\\.exe", ".lnk"},
        {"c:\\Program Files\\Tessaly\\Quillory\\Pexil.v2.exe", "Pexil.v2.lnk"},
        {"c:\\Tools.d\\Runner", "Runner.lnk"},
        {"c:Quenmoral.exe", "Quenmoral.lnk"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        const std::string link = Folder("Desktop") + "\\" + c.link;
        form.Memo3.SetText("");
        form.MakeShortcut(c.target, 1);
        EXPECT_EQ(LogLines(), std::vector<std::string>{"Created Shortcut for " + link});
        EXPECT_EQ(LnkInfoLocalPath(machine.Host(link)), c.target);
    }
}

TEST_F(MakeShortcutTest, ExistingLinkIsLeftUntouched) {
    const std::string link = Folder("Desktop") + "\\Tovanel.lnk";
    machine.Write(link, "a link the user made");
    form.MakeShortcut(kSuiteTarget, 1);
    EXPECT_EQ(LogLines(), std::vector<std::string>{"Shortcut for " + link + " already existed"});
    EXPECT_EQ(machine.Read(link), "a link the user made");
}

TEST_F(MakeShortcutTest, LinkThatCannotBeWrittenIsReportedAsFailed) {
    const std::string desktop = Folder("Desktop");
    machine.Deny("folder " + desktop);
    form.MakeShortcut(kSuiteTarget, 1);
    EXPECT_EQ(LogLines(), std::vector<std::string>{"Creating Shortcut for " + desktop + "\\Tovanel.lnk ...FAILED"});
    EXPECT_FALSE(machine.Exists(desktop + "\\Tovanel.lnk"));
}

TEST_F(MakeShortcutTest, FolderValueOfAnotherTypeIsAnError) {
    SetFolderValueToNumber("Start Menu");
    try {
        form.MakeShortcut(kSuiteTarget, 2);
        FAIL() << "no error";
    } catch (const RunError& error) {
        EXPECT_NE(std::string(error.what()).find("Start Menu"), std::string::npos) << error.what();
    }
    EXPECT_EQ(form.Memo3.Text(), "");
}

// ---- the suite's links in whole runs ----------------------------------------

class SuiteShortcutRun : public ::testing::Test, public ShortcutMachine {
protected:
    void SetUp() override { machine.PlaceFoundation(); }

    std::string RunAndLog(const std::string& copy, const std::string& role) {
        machine.PlaceTovanel(copy);
        const auto result = machine.Run(copy, {server.Environment()});
        EXPECT_EQ(result.exitCode, 0) << result.output;
        return machine.HasLog(role) ? machine.Log(role) : std::string();
    }
    // The log's lines from "Creating Shortcuts" on, up to the first empty line.
    static std::vector<std::string> ShortcutLines(const std::string& log) {
        std::vector<std::string> lines;
        bool inside = false;
        for (const auto& line : CrLfLines(log)) {
            inside = inside || line == "Creating Shortcuts";
            if (inside && (line.empty() || line == "Starting Program...")) break;
            if (inside) lines.push_back(line);
        }
        return lines;
    }
    std::vector<std::string> CreatedLines(const std::string& linkName) {
        return {"Creating Shortcuts", "Created Shortcut for " + Folder("Desktop") + "\\" + linkName,
                "Created Shortcut in Desktop", "Created Shortcut for " + Folder("Start Menu") + "\\" + linkName,
                "Created Shortcut in Start Menu"};
    }
    PackageServer server;
};

TEST_F(SuiteShortcutRun, ProgramIsChosenFromTheOwnPathLastMatchWinning) {
    const struct {
        const char* copy;
        const char* role;
        const char* program;
    } cases[] = {
        {"C:\\TSLData\\QLR\\Tovanel.exe", "Startup", "Tovanel"},
        {"C:\\TSLData\\QLR\\Quenmoral.exe", "Startup", "Quenmoral"},
        {"C:\\TSLData\\QLR\\Pexil.exe", "Startup", "Pexil"},
        {"C:\\SETUP\\quenmoral and pexil.exe", "Setup", "Pexil"},
        {"C:\\SETUP\\qlr\\Other.exe", "Setup", "Tovanel"},
        {"C:\\SETUP\\Other.exe", "Setup", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.copy);
        const std::string linkName = std::string(c.program) + ".lnk";
        const std::string target = "c:\\Program Files\\Tessaly\\Quillory\\" + std::string(c.program) + ".exe";
        const std::string log = RunAndLog(c.copy, c.role);
        EXPECT_EQ(ShortcutLines(log), CreatedLines(linkName)) << log;
        EXPECT_EQ(LnkInfoLocalPath(machine.Host(Folder("Desktop") + "\\" + linkName)), target);
        EXPECT_EQ(LnkInfoLocalPath(machine.Host(Folder("Start Menu") + "\\" + linkName)), target);
        std::filesystem::remove(machine.Host(Folder("Desktop") + "\\" + linkName));
        std::filesystem::remove(machine.Host(Folder("Start Menu") + "\\" + linkName));
    }
}

TEST_F(SuiteShortcutRun, SecondRunFindsBothLinks) {
    const std::string copy = "C:\\TSLData\\QLR\\Tovanel.exe";
    ASSERT_EQ(ShortcutLines(RunAndLog(copy, "Startup")), CreatedLines("Tovanel.lnk"));
    const std::string desktopLink = Folder("Desktop") + "\\Tovanel.lnk";
    const std::string startLink = Folder("Start Menu") + "\\Tovanel.lnk";
    const std::string firstBytes = machine.Read(desktopLink);
    EXPECT_EQ(ShortcutLines(RunAndLog(copy, "Startup")),
              (std::vector<std::string>{"Creating Shortcuts", "Shortcut for " + desktopLink + " already existed",
                                        "Created Shortcut in Desktop", "Shortcut for " + startLink + " already existed",
                                        "Created Shortcut in Start Menu"}));
    EXPECT_EQ(machine.Read(desktopLink), firstBytes);
}

TEST_F(SuiteShortcutRun, NoDesktopFolderStillMakesTheStartMenuLink) {
    RemoveFolderValue("Desktop");
    const std::string startLink = Folder("Start Menu") + "\\Tovanel.lnk";
    EXPECT_EQ(ShortcutLines(RunAndLog("C:\\TSLData\\QLR\\Tovanel.exe", "Startup")),
              (std::vector<std::string>{"Creating Shortcuts", "FAILED - no directory", "Created Shortcut in Desktop",
                                        "Created Shortcut for " + startLink, "Created Shortcut in Start Menu"}));
    EXPECT_EQ(LnkInfoLocalPath(machine.Host(startLink)), kSuiteTarget);
}

TEST_F(SuiteShortcutRun, DesktopValueOfAnotherTypeEndsThePass) {
    SetFolderValueToNumber("Desktop");
    const std::string log = RunAndLog("C:\\TSLData\\QLR\\Tovanel.exe", "Startup");
    EXPECT_EQ(ShortcutLines(log),
              (std::vector<std::string>{"Creating Shortcuts", "Unexpected Exception encountered ...FAILED (2)"}))
        << log;
    EXPECT_TRUE(
        log.ends_with("----------------- End ----------------------\r\n\r\n"
                      "Invalid data type for registry value 'Desktop'"))
        << log;
}

TEST_F(SuiteShortcutRun, MissingStartupProgramMakesNoLinks) {
    const std::string copy = "C:\\SETUP\\Tovanel.exe";
    machine.PlaceTovanel(copy);
    std::filesystem::remove(machine.Host("C:\\TSLData\\QLR\\Tovanel.exe"));
    machine.Write("C:\\SchoolData\\mydata.ib", "school data");
    // The foundation is then reinstalled from a package without the startup program.
    server.Put("Foundation.pak", PackageBytes({{"C:\\temp\\QLR\\SchoolData\\mydata.ib", NoiseBytes(1000)}}));
    {
        auto key = machine.platform().OpenRegistryKey(RegistryRoot::LocalMachine,
                                                      "Software\\Firebird Project\\Firebird Server\\Instances", true);
        key->WriteString("DefaultInstance", "C:\\Firebird\\");
    }
    const std::string log = RunAndLog(copy, "Setup");
    EXPECT_NE(log.find("\r\nStartup Program, Tovanel, has not loaded.  Cannot create shortcuts\r\n"), std::string::npos)
        << log;
    EXPECT_FALSE(machine.Exists(Folder("Desktop") + "\\Tovanel.lnk"));
}

}  // namespace
}  // namespace qlr::testing
