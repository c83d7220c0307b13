// Link files the sandbox writes, checked byte-wise and with an independent reader.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>

#include "common/LinkReader.h"
#include "native/support/LnkInfo.h"
#include "platform/sandbox/LnkFile.h"

namespace qlr::testing {
namespace {

namespace fs = std::filesystem;

std::uint32_t U32At(const std::string& bytes, std::size_t offset) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes.at(offset + i));
    return v;
}

class LnkFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "qlr-lnk-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
    }
    void TearDown() override { fs::remove_all(folder_); }

    fs::path WriteLink(const std::string& target) {
        const fs::path path = folder_ / "link.lnk";
        std::ofstream(path, std::ios::binary | std::ios::trunc) << sandbox::ShellLinkFileBytes(target);
        return path;
    }
    fs::path folder_;
};

TEST_F(LnkFileTest, IndependentReaderFindsTheTarget) {
    const std::string longName(200, 'L');
    const std::string targets[] = {
        "c:\\Program Files\\Tessaly\\Quillory\\Tovanel.exe",
        "c:\\Program Files\\Tessaly\\Quillory\\.exe",
        "C:\\x.exe",
        "c:\\Program Files\\Tessaly\\Quillory\\" + longName + ".exe",
    };
    for (const auto& target : targets) {
        SCOPED_TRACE(target);
        EXPECT_EQ(LnkInfoLocalPath(WriteLink(target)), target);
    }
}

TEST_F(LnkFileTest, AnsiTextIsKeptByteForByte) {
    const std::string target = "c:\\Caf\xE9\\Quillory.exe";  // windows-1252
    const std::string out = RunCapture("lnkinfo -c windows-1252 '" + WriteLink(target).string() + "'");
    EXPECT_NE(out.find("c:\\Caf\xC3\xA9\\Quillory.exe"), std::string::npos) << out;
}

TEST_F(LnkFileTest, PathEndsAtItsFirstNul) {
    const std::string target("c:\\a.exe\0rest", 13);
    EXPECT_EQ(LnkInfoLocalPath(WriteLink(target)), "c:\\a.exe");
}

TEST_F(LnkFileTest, LayoutIsAnAnsiLinkWithLocationOnly) {
    const std::string target = "c:\\Program Files\\Tessaly\\Quillory\\Tovanel.exe";
    const std::string bytes = sandbox::ShellLinkFileBytes(target);
    ASSERT_GT(bytes.size(), 0x4Cu + 0x1Cu);
    EXPECT_EQ(U32At(bytes, 0), 0x4Cu);
    const std::string clsid("\x01\x14\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46", 16);
    EXPECT_EQ(bytes.substr(4, 16), clsid);
    const std::uint32_t flags = U32At(bytes, 20);
    EXPECT_EQ(flags & 0x02u, 0x02u) << "HasLinkInfo";
    EXPECT_EQ(flags & 0x80u, 0u) << "IsUnicode";
    EXPECT_EQ(flags & 0x7Du, 0u) << "no id list, name, relative path, working folder, arguments or icon";

    // LinkInfo fills the rest up to the four-byte terminal block.
    const std::uint32_t infoSize = U32At(bytes, 0x4C);
    EXPECT_EQ(0x4Cu + infoSize + 4u, bytes.size());
    EXPECT_EQ(U32At(bytes, bytes.size() - 4), 0u);
    const std::uint32_t basePathOffset = U32At(bytes, 0x4C + 16);
    EXPECT_EQ(bytes.substr(0x4C + basePathOffset, target.size() + 1), target + '\0');
}

// The reader the Windows tests use on the shell's own links must agree with lnkinfo.
TEST_F(LnkFileTest, WindowsTestsReaderAgreesWithLnkinfo) {
    const std::string target = "c:\\Program Files\\Tessaly\\Quillory\\Tovanel.exe";
    std::string plain = sandbox::ShellLinkFileBytes(target);
    // The same link with an (empty) item-id list before its LinkInfo, as the shell writes one.
    std::string withIdList = plain;
    withIdList[20] = static_cast<char>(withIdList[20] | 0x01);
    withIdList.insert(0x4C, std::string("\x02\x00\x00\x00", 4));
    for (const std::string* bytes : {&plain, &withIdList}) {
        const fs::path path = folder_ / "check.lnk";
        std::ofstream(path, std::ios::binary | std::ios::trunc) << *bytes;
        EXPECT_EQ(LinkLocalPath(*bytes), target);
        EXPECT_EQ(LnkInfoLocalPath(path), target);
    }
    EXPECT_EQ(LinkLocalPath(plain.substr(0, 0x60)), std::nullopt);
    EXPECT_EQ(LinkLocalPath("not a link"), std::nullopt);
}

}  // namespace
}  // namespace qlr::testing
