#pragma once
// MurmurHash2 (32-bit, seed 0, bytes read little-endian): the hash nginx's
// split_clients puts a key through, so both servers place a school alike.

#include <cstdint>
#include <string_view>

namespace qlr::server {

std::uint32_t MurmurHash2(std::string_view data);

}  // namespace qlr::server
