// The shell's link object as the program uses it: created in a COM
// apartment, given a target, saved under an 8-bit path.

#include <objbase.h>

#include <functional>
#include <optional>
#include <thread>

#include "common/LinkReader.h"
#include "platform/win32/ComShellLink.h"
#include "windows/support/WineMachine.h"

namespace qlr::testing {
namespace {

constexpr const char* kFolder = "C:\\Temp\\LinkTest";
constexpr const char* kTarget = "c:\\Program Files\\Tessaly\\Quillory\\Tovanel.exe";

// Runs body on a thread of its own, in a single-threaded apartment when sta is set.
void OnThread(bool sta, const std::function<void()>& body) {
    std::thread([&] {
        std::optional<win32::ComApartment> apartment;
        if (sta) apartment.emplace();
        body();
    }).join();
}

bool SamePath(const std::string& a, const std::string& b) {
    return ::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.c_str(), -1, b.c_str(), -1) == CSTR_EQUAL;
}

class ComShellLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        RemoveTree(kFolder);
        MakeFolders(kFolder);
    }
    void TearDown() override { RemoveTree(kFolder); }
};

TEST_F(ComShellLinkTest, SavedLinkHoldsItsTarget) {
    const std::string link = std::string(kFolder) + "\\Tovanel.lnk";
    OnThread(true, [&] {
        auto shellLink = win32::CreateComShellLink();
        shellLink->SetPath(kTarget);
        EXPECT_TRUE(shellLink->Save(link));
    });
    const auto bytes = ReadBytes(link);
    ASSERT_TRUE(bytes);
    const auto target = LinkLocalPath(*bytes);
    ASSERT_TRUE(target);
    EXPECT_TRUE(SamePath(*target, kTarget)) << *target;
}

TEST_F(ComShellLinkTest, AnsiLinkPathIsConvertedNotMangled) {
    const std::string link = std::string(kFolder) + "\\Caf\xE9 Quillory.lnk";  // é in the ANSI code page
    OnThread(true, [&] {
        auto shellLink = win32::CreateComShellLink();
        shellLink->SetPath(kTarget);
        EXPECT_TRUE(shellLink->Save(link));
    });
    WIN32_FIND_DATAA found{};
    win32::UniqueFind search(::FindFirstFileA((std::string(kFolder) + "\\*.lnk").c_str(), &found));
    ASSERT_TRUE(search);
    EXPECT_STREQ(found.cFileName, "Caf\xE9 Quillory.lnk");
}

TEST_F(ComShellLinkTest, SaveIntoAMissingFolderFailsAndWritesNothing) {
    const std::string link = std::string(kFolder) + "\\missing\\Tovanel.lnk";
    OnThread(true, [&] {
        auto shellLink = win32::CreateComShellLink();
        shellLink->SetPath(kTarget);
        EXPECT_FALSE(shellLink->Save(link));
    });
    EXPECT_FALSE(PathExists(link));
}

TEST_F(ComShellLinkTest, WithoutComTheObjectCannotBeMadeAndSaysSo) {
    OnThread(false, [] {
        try {
            win32::CreateComShellLink();
            ADD_FAILURE() << "created without COM";
        } catch (const RunError& error) {
            EXPECT_NE(std::string(error.what()).find("shell link"), std::string::npos) << error.what();
        }
    });
}

}  // namespace
}  // namespace qlr::testing
