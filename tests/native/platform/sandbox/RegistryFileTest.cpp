// The sandbox registry file: typed values, the 32-bit view of HKLM, denied
// keys, and values shared between programs through the file.

#include <gtest/gtest.h>

#include <fstream>

#include "native/support/SandboxMachine.h"
#include "platform/sandbox/RegistryFile.h"
#include "platform/sandbox/SandboxPlatform.h"

namespace qlr::sandbox {
namespace {

constexpr const char* kInstances = "Software\\Firebird Project\\Firebird Server\\Instances";

class SandboxRegistryTest : public ::testing::Test {
protected:
    std::string Root() const { return machine_.Root().string(); }
    // A second platform over the same root, as another program would see it.
    std::unique_ptr<Platform> Other() const { return CreateSandboxPlatform({Root(), false}); }
    std::string FileText() const {
        std::ifstream in(machine_.Root() / "registry.txt", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    testing::SandboxMachine machine_;
};

TEST_F(SandboxRegistryTest, StringValuesRoundTripThroughTheFile) {
    auto key = machine_.platform().OpenRegistryKey(RegistryRoot::LocalMachine, kInstances, true);
    ASSERT_TRUE(key);
    const std::string awkward = "C:\\50% \"done\"\r\nnext]line";
    ASSERT_TRUE(key->WriteString("DefaultInstance", "C:\\Program Files\\Firebird\\"));
    ASSERT_TRUE(key->WriteString("Odd \"name\"", awkward));
    ASSERT_TRUE(key->WriteString("", "default"));

    auto again = Other()->OpenRegistryKey(RegistryRoot::LocalMachine,
                                          "SOFTWARE\\firebird project\\FIREBIRD SERVER\\"
                                          "instances",
                                          false);
    ASSERT_TRUE(again);
    RegistryValue value = again->ReadValue("defaultinstance");
    EXPECT_EQ(value.kind, RegistryValue::Kind::String);
    EXPECT_EQ(value.text, "C:\\Program Files\\Firebird\\");
    EXPECT_EQ(again->ReadValue("Odd \"name\"").text, awkward);
    EXPECT_EQ(again->ReadValue("").text, "default");
    EXPECT_EQ(again->ReadValue("Missing").kind, RegistryValue::Kind::Missing);

    ASSERT_TRUE(key->WriteString("DefaultInstance", "changed"));
    EXPECT_EQ(again->ReadValue("DefaultInstance").text, "changed");  // written at once, read afresh
}

TEST_F(SandboxRegistryTest, KeysOpenOnlyWhenPresentUnlessCreated) {
    Platform& p = machine_.platform();
    EXPECT_EQ(p.OpenRegistryKey(RegistryRoot::CurrentUser, "Software\\Nothing", false), nullptr);
    auto parent = p.OpenRegistryKey(RegistryRoot::CurrentUser, "Software\\Tessaly", true);
    ASSERT_TRUE(parent);
    EXPECT_EQ(parent->OpenSubKey("Quillory", false), nullptr);
    auto child = parent->OpenSubKey("Quillory\\Settings", true);
    ASSERT_TRUE(child);
    ASSERT_TRUE(child->WriteString("School", "North"));
    EXPECT_TRUE(parent->OpenSubKey("quillory", false));  // exists because a key below it does
    auto direct = p.OpenRegistryKey(RegistryRoot::CurrentUser, "Software\\Tessaly\\Quillory\\Settings", false);
    ASSERT_TRUE(direct);
    EXPECT_EQ(direct->ReadValue("SCHOOL").text, "North");
    EXPECT_EQ(p.OpenRegistryKey(RegistryRoot::LocalMachine, "Software\\Tessaly", false), nullptr);  // other hive
}

TEST_F(SandboxRegistryTest, TheProgramSeesTheThirtyTwoBitViewOfLocalMachineSoftware) {
    std::ofstream(machine_.Root() / "registry.txt", std::ios::app)
        << "[HKLM\\Software\\Firebird Project\\Firebird Server\\Instances]\n"
        << "\"DefaultInstance\"=sz:only in the 64-bit view\n";
    EXPECT_EQ(machine_.platform().OpenRegistryKey(RegistryRoot::LocalMachine, kInstances, false), nullptr);

    auto key = machine_.platform().OpenRegistryKey(RegistryRoot::LocalMachine, kInstances, true);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->ReadValue("DefaultInstance").kind, RegistryValue::Kind::Missing);
    ASSERT_TRUE(key->WriteString("DefaultInstance", "32-bit"));
    EXPECT_NE(FileText().find("[HKLM32\\Software\\Firebird Project\\Firebird Server\\Instances]\n"
                              "\"DefaultInstance\"=sz:32-bit\n"),
              std::string::npos);
    EXPECT_NE(FileText().find("only in the 64-bit view"), std::string::npos);
}

TEST_F(SandboxRegistryTest, ValuesOfOtherTypesAreNotStrings) {
    ASSERT_TRUE(WriteRegistryValue(Root(), std::string("HKLM\\") + kInstances, "Count", "dword", "00000001"));
    ASSERT_TRUE(WriteRegistryValue(Root(), std::string("HKLM\\") + kInstances, "Path", "expand", "%ProgramFiles%"));
    auto key = machine_.platform().OpenRegistryKey(RegistryRoot::LocalMachine, kInstances, false);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->ReadValue("Count").kind, RegistryValue::Kind::Other);
    RegistryValue path = key->ReadValue("Path");
    EXPECT_EQ(path.kind, RegistryValue::Kind::String);
    EXPECT_EQ(path.text, "%ProgramFiles%");  // not expanded
}

TEST_F(SandboxRegistryTest, DeniedKeysCannotBeOpenedForFullAccess) {
    Platform& p = machine_.platform();
    ASSERT_TRUE(p.OpenRegistryKey(RegistryRoot::LocalMachine, kInstances, true));
    ASSERT_TRUE(p.OpenRegistryKey(RegistryRoot::CurrentUser, "Software\\Locked", true));
    machine_.Deny("key HKEY_LOCAL_MACHINE\\software\\firebird project\\firebird server\\instances");
    machine_.Deny("key HKCU\\Software\\Locked");
    EXPECT_EQ(p.OpenRegistryKey(RegistryRoot::LocalMachine, kInstances, false), nullptr);
    EXPECT_EQ(p.OpenRegistryKey(RegistryRoot::LocalMachine, kInstances, true), nullptr);
    EXPECT_EQ(p.OpenRegistryKey(RegistryRoot::CurrentUser, "Software\\Locked", false), nullptr);
    auto software = p.OpenRegistryKey(RegistryRoot::CurrentUser, "Software", false);
    ASSERT_TRUE(software);
    EXPECT_EQ(software->OpenSubKey("LOCKED", false), nullptr);
    EXPECT_TRUE(p.OpenRegistryKey(RegistryRoot::LocalMachine, "Software\\Firebird Project", false));
}

}  // namespace
}  // namespace qlr::sandbox
