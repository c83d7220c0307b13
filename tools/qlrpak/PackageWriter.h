#pragma once
// Writes packages in the format PackageReader reads, one entry streamed at
// a time. Only the tools compress: the program itself links the reader alone.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/Platform.h"

namespace qlr {

class PackageWriter {
public:
    // count is written first and must match the number of AddEntry calls.
    PackageWriter(FileStream& out, std::int32_t count);
    // read fills up to n bytes and returns the count, 0 at the end; exactly
    // size bytes must come. Throws RunError when they do not, when name is
    // not a path the program would write to, or when a write fails.
    void AddEntry(const std::string& name, std::int32_t size,
                  const std::function<std::size_t(char*, std::size_t)>& read);
    // Pads the package past the server-message size; returns its length.
    std::int64_t Finish();

private:
    void Put(const void* data, std::size_t count);
    void PutInt32(std::int32_t value);
    FileStream& out_;
    std::int64_t written_ = 0;
};

}  // namespace qlr
