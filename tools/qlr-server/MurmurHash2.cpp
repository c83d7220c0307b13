#include "MurmurHash2.h"

namespace qlr::server {

std::uint32_t MurmurHash2(std::string_view data) {
    constexpr std::uint32_t m = 0x5bd1e995;
    const auto* p = reinterpret_cast<const unsigned char*>(data.data());
    std::size_t len = data.size();
    std::uint32_t h = static_cast<std::uint32_t>(len);
    for (; len >= 4; p += 4, len -= 4) {
        std::uint32_t k = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
        k *= m;
        k ^= k >> 24;
        k *= m;
        h *= m;
        h ^= k;
    }
    switch (len) {
        case 3: h ^= static_cast<std::uint32_t>(p[2]) << 16; [[fallthrough]];
        case 2: h ^= static_cast<std::uint32_t>(p[1]) << 8; [[fallthrough]];
        case 1: h ^= p[0]; h *= m;
    }
    h ^= h >> 13;
    h *= m;
    h ^= h >> 15;
    return h;
}

}  // namespace qlr::server
