#include "platform/sandbox/LnkFile.h"

#include <cstdint>

namespace qlr::sandbox {

namespace {

constexpr std::uint32_t kHeaderSize = 0x4C;
// CLSID_ShellLink {00021401-0000-0000-C000-000000000046} in its stored byte order.
constexpr unsigned char kLinkClsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                          0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr std::uint32_t kHasLinkInfo = 0x00000002;  // strings are ANSI: IsUnicode stays off
constexpr std::uint32_t kShowNormal = 1;
constexpr std::uint32_t kLinkInfoHeaderSize = 0x1C;
constexpr std::uint32_t kVolumeIdAndLocalBasePath = 0x00000001;
constexpr std::uint32_t kVolumeIdHeaderSize = 0x10;
constexpr std::uint32_t kDriveFixed = 3;

class Writer {
public:
    void U16(std::uint16_t v) { Bytes(v, 2); }
    void U32(std::uint32_t v) { Bytes(v, 4); }
    void U64(std::uint64_t v) { Bytes(v, 8); }
    void Raw(const void* data, std::size_t size) { out_.append(static_cast<const char*>(data), size); }
    void Text(const std::string& s) { out_.append(s).push_back('\0'); }
    std::string Take() { return std::move(out_); }

private:
    void Bytes(std::uint64_t v, int count) {
        for (int i = 0; i < count; ++i) out_.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    }
    std::string out_;
};

void WriteHeader(Writer& w) {
    w.U32(kHeaderSize);
    w.Raw(kLinkClsid, sizeof kLinkClsid);
    w.U32(kHasLinkInfo);
    w.U32(0);  // file attributes: the target is not looked at
    w.U64(0);  // creation time
    w.U64(0);  // access time
    w.U64(0);  // write time
    w.U32(0);  // file size
    w.U32(0);  // icon index
    w.U32(kShowNormal);
    w.U16(0);  // hot key
    w.U16(0);  // reserved
    w.U32(0);
    w.U32(0);
}

// VolumeID (fixed drive, no serial, empty label), LocalBasePath, empty CommonPathSuffix.
void WriteLinkInfo(Writer& w, const std::string& target) {
    const std::uint32_t volumeIdSize = kVolumeIdHeaderSize + 1;
    const std::uint32_t volumeIdOffset = kLinkInfoHeaderSize;
    const std::uint32_t basePathOffset = volumeIdOffset + volumeIdSize;
    const std::uint32_t suffixOffset = basePathOffset + static_cast<std::uint32_t>(target.size()) + 1;
    const std::uint32_t linkInfoSize = suffixOffset + 1;

    w.U32(linkInfoSize);
    w.U32(kLinkInfoHeaderSize);
    w.U32(kVolumeIdAndLocalBasePath);
    w.U32(volumeIdOffset);
    w.U32(basePathOffset);
    w.U32(0);  // no network location
    w.U32(suffixOffset);

    w.U32(volumeIdSize);
    w.U32(kDriveFixed);
    w.U32(0);                    // drive serial number
    w.U32(kVolumeIdHeaderSize);  // the label follows the header
    w.Text("");

    w.Text(target);
    w.Text("");
}

}  // namespace

std::string ShellLinkFileBytes(const std::string& targetPath) {
    const std::string target = targetPath.substr(0, targetPath.find('\0'));
    Writer w;
    WriteHeader(w);
    WriteLinkInfo(w, target);
    w.U32(0);  // terminal block: no extra data
    return w.Take();
}

}  // namespace qlr::sandbox
