#pragma once
// Writes to a file in large pieces: a download arrives in 1025-byte reads
// and an inflater ends each stream with a small one, and one system call
// per piece is what made writing slow.

#include <cstddef>
#include <vector>

#include "platform/Platform.h"

namespace qlr {

class BufferedWriter {
public:
    static constexpr std::size_t kCapacity = std::size_t{64} * 1024;

    explicit BufferedWriter(FileStream& file) : file_(file) { buffer_.reserve(kCapacity); }
    // False once any write to the file has failed.
    bool Write(const void* data, std::size_t count);
    // Writes out what is held; false when that or any earlier write failed.
    // Call it before the file is closed: what is still held is lost.
    bool Flush();

private:
    FileStream& file_;
    std::vector<char> buffer_;
    bool failed_ = false;
};

}  // namespace qlr
