#pragma once
// Reads the target's local path back out of a shell link file, by the
// published binary layout: header, optional item-id list, then LinkInfo
// with LocalBasePath and CommonPathSuffix. Plain C++, so the native tests
// can check it against lnkinfo.

#include <cstdint>
#include <optional>
#include <string>

namespace qlr::testing {

namespace link_detail {
inline std::optional<std::uint32_t> U32(const std::string& b, std::size_t at) {
    if (at + 4 > b.size()) return std::nullopt;
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
    return v;
}
inline std::optional<std::string> CString(const std::string& b, std::size_t at) {
    if (at >= b.size()) return std::nullopt;
    const auto end = b.find('\0', at);
    if (end == std::string::npos) return std::nullopt;
    return b.substr(at, end - at);
}
}  // namespace link_detail

// LocalBasePath + CommonPathSuffix, or nothing when the file holds no local path.
inline std::optional<std::string> LinkLocalPath(const std::string& bytes) {
    using namespace link_detail;
    static const std::string kClsid("\x01\x14\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46", 16);
    if (U32(bytes, 0) != 0x4Cu || bytes.compare(4, 16, kClsid) != 0) return std::nullopt;
    const auto flags = U32(bytes, 20);
    if (!flags || !(*flags & 0x2u)) return std::nullopt;  // HasLinkInfo
    std::size_t at = 0x4C;
    if (*flags & 0x1u) {  // HasLinkTargetIDList: a 16-bit size, then the list
        if (at + 2 > bytes.size()) return std::nullopt;
        at += 2 + (static_cast<unsigned char>(bytes[at]) | (static_cast<unsigned char>(bytes[at + 1]) << 8));
    }
    const auto infoFlags = U32(bytes, at + 8);
    const auto baseOffset = U32(bytes, at + 16);
    const auto suffixOffset = U32(bytes, at + 24);
    if (!infoFlags || !baseOffset || !suffixOffset || !(*infoFlags & 0x1u)) return std::nullopt;
    const auto base = CString(bytes, at + *baseOffset);
    const auto suffix = CString(bytes, at + *suffixOffset);
    if (!base || !suffix) return std::nullopt;
    return *base + *suffix;
}

}  // namespace qlr::testing
