#pragma once
// The release keys compiled into this executable: PEM text of public keys,
// empty in a build without keys. Each executable brings its own definition
// (a source file CMake generates), so a test build can hold a test key
// without a second build of the core.

#include <string_view>

namespace qlr {
std::string_view CompiledReleaseKeys();
}  // namespace qlr
