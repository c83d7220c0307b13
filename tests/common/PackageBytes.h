#pragma once
// Packages in the documented format, made independently of the program's
// own reader: int32 count, then per entry int32 name length, the name,
// int32 size and one zlib stream. Plain C++ for both test suites.

#include <zlib.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace qlr::testing {

struct PackageEntry {
    std::string name;  // the Windows path the entry is written to
    std::string content;
};

// Bytes that do not compress: a package made of them stays as large as they are.
inline std::string NoiseBytes(std::size_t count, std::uint32_t seed = 12345) {
    std::string out(count, '\0');
    for (auto& c : out) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 24);
    }
    return out;
}

inline void PutInt32(std::string& out, std::int32_t value) {
    const auto v = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// int32 count, then per entry: int32 name length, name, int32 size, one zlib stream.
inline std::string PackageBytes(const std::vector<PackageEntry>& entries) {
    std::string out;
    PutInt32(out, static_cast<std::int32_t>(entries.size()));
    for (const auto& entry : entries) {
        PutInt32(out, static_cast<std::int32_t>(entry.name.size()));
        out += entry.name;
        PutInt32(out, static_cast<std::int32_t>(entry.content.size()));
        uLongf size = compressBound(entry.content.size());
        std::string packed(size, '\0');
        if (compress2(reinterpret_cast<Bytef*>(packed.data()), &size,
                      reinterpret_cast<const Bytef*>(entry.content.data()), entry.content.size(), 6) != Z_OK)
            throw std::runtime_error("compress failed");
        out.append(packed, 0, size);
    }
    return out;
}

// The foundation the maker publishes: the program in both places, stand-ins
// for Shifter.exe and the database server installer, a blank database.
inline std::string FoundationPackageBytes(const std::string& tovanel, const std::string& standin) {
    return PackageBytes({{"C:\\TSLData\\QLR\\Tovanel.exe", tovanel},
                         {"C:\\Program Files\\Tessaly\\Quillory\\Tovanel.exe", tovanel},
                         {"C:\\TSLData\\QLR\\Shifter.exe", standin},
                         {"c:\\temp\\QLR\\Firebird\\Firebird-2.1.1.17910-0_Win32.exe", standin},
                         {"C:\\temp\\QLR\\SchoolData\\mydata.ib", "blank school database"}});
}

}  // namespace qlr::testing
