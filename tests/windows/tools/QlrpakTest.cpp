// qlrpak.exe on Windows: a package it makes verifies, extracts under the
// chosen folder byte for byte, and a flipped byte is caught.

#include "common/PackageBytes.h"
#include "windows/support/WineMachine.h"

namespace qlr::testing {
namespace {

class QlrpakWindows : public WineMachine {
protected:
    std::optional<DWORD> Pak(const std::string& arguments) {
        return RunProgram(BuildFolder() + "\\qlrpak.exe", arguments, kWork);
    }
    static constexpr const char* kWork = "C:\\Temp\\qlrpak";
};

TEST_F(QlrpakWindows, RoundTripAndDamage) {
    const std::string program = NoiseBytes(90000, 5);
    const std::string notes(4000, 'n');
    WriteBytes(std::string(kWork) + "\\program.bin", program);
    WriteBytes(std::string(kWork) + "\\notes.txt", notes);
    ASSERT_EQ(
        Pak("create out.pak \"C:\\TSLData\\QLR\\QLR6-39.exe=program.bin\" \"C:\\Temp\\docs\\notes.txt=notes.txt\""),
        0u);
    EXPECT_EQ(Pak("list out.pak"), 0u);
    EXPECT_EQ(Pak("verify out.pak"), 0u);
    ASSERT_EQ(Pak("extract out.pak --to root"), 0u);
    EXPECT_EQ(ReadBytes(std::string(kWork) + "\\root\\drive_c\\TSLData\\QLR\\QLR6-39.exe"), program);
    EXPECT_EQ(ReadBytes(std::string(kWork) + "\\root\\drive_c\\Temp\\docs\\notes.txt"), notes);

    std::string package = ReadBytes(std::string(kWork) + "\\out.pak").value();
    package[package.size() / 2] ^= 0x10;
    WriteBytes(std::string(kWork) + "\\out.pak", package);
    EXPECT_EQ(Pak("verify out.pak"), 1u);
    EXPECT_EQ(Pak("create other.pak \"C:\\x=missing.bin\""), 1u);
    EXPECT_FALSE(PathExists(std::string(kWork) + "\\other.pak"));
    EXPECT_EQ(Pak("frobnicate"), 2u);
}

TEST_F(QlrpakWindows, VerifyChecksTheSignatureWithTheSystemCrypto) {
    WriteBytes(std::string(kWork) + "\\program.bin", NoiseBytes(3000, 6));
    ASSERT_EQ(Pak("create plain.pak \"C:\\TSLData\\QLR\\QLR6-39.exe=program.bin\""), 0u);
    const std::string plain = ReadBytes(std::string(kWork) + "\\plain.pak").value();
    WriteBytes(std::string(kWork) + "\\QLR6-39.pak", SignedPackage(plain, "QLR6-39"));
    WriteBytes(std::string(kWork) + "\\other.pak", SignedPackage(plain, "other", kTestOtherKey));
    WriteBytes(std::string(kWork) + "\\release.pem", kTestReleasePublicPem);
    EXPECT_EQ(Pak("verify QLR6-39.pak --key release.pem"), 0u);
    EXPECT_EQ(Pak("verify other.pak --key release.pem"), 1u);
    EXPECT_EQ(Pak("verify plain.pak --key release.pem"), 1u);
    EXPECT_EQ(Pak("verify plain.pak"), 0u);
    // Keys are made and packages signed on Linux.
    EXPECT_EQ(Pak("keygen private.pem public.pem"), 1u);
    EXPECT_FALSE(PathExists(std::string(kWork) + "\\private.pem"));
}

}  // namespace
}  // namespace qlr::testing
