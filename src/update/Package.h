#pragma once
// The package format: a signed 32-bit little-endian file count, then per
// entry a name length, the name, the inflated size and one zlib stream.
// No magic, no index: a stream's compressed length is found by inflating it.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

namespace qlr {

// A file this short is a message the server sent instead of a package.
inline constexpr std::int64_t kMaxServerMessageSize = 500;
inline constexpr std::int32_t kMaxPackageEntries = 100;

// Where an entry may be written: an absolute path on drive C: whose every
// component names a plain file or folder. Refused: other drives, relative
// paths, device, UNC and stream forms, "." and "..", names Windows would
// silently change (trailing dots and blanks) and device names (NUL, COM1).
bool IsSafeEntryPath(std::string_view path);

struct PackageEntry {
    std::string name;
    std::int32_t size = 0;  // inflated length; at least 1 once read from a sound header
};

// Reads one package front to back through a bounded buffer. Whatever the
// inflater reads ahead of a stream's end stays in the buffer, so the next
// header starts right after the Adler-32 trailer.
class PackageReader {
public:
    // packageName is used in the damaged-package message.
    PackageReader(FileStream& file, std::string packageName);

    std::int64_t FileSize() const { return fileSize_; }
    std::int32_t ReadCount();
    // Throws the damaged-package error on a truncated or out-of-range header
    // and on a name that is not a safe entry path.
    PackageEntry ReadEntryHeader();
    // Inflates one stream of exactly size bytes, handing the bytes to write
    // piece by piece; write returns false when it could not store them
    // ("Stream write error"). Returns the stream's compressed length.
    // Corrupt data: "error"; a size below 1, a stream that ends early, runs
    // long or is cut off by the end of the file: damaged. A read that fails:
    // "Cannot read file <package>".
    std::int64_t InflateEntry(std::int32_t size, const std::function<bool(const char*, std::size_t)>& write);

    // The message for a package that cannot be read as one.
    static std::string DamagedMessage(const std::string& packageName);

private:
    [[noreturn]] void Damaged() const;
    bool Fill();  // more bytes into the buffer; false at the end of the file; throws on a failed read
    void ReadExact(void* target, std::size_t count);
    std::int32_t ReadInt32();
    std::int64_t Remaining() const { return fileSize_ - consumed_; }

    FileStream& file_;
    std::string packageName_;
    std::int64_t fileSize_ = 0;
    std::int64_t consumed_ = 0;  // bytes of the package taken from the buffer
    std::vector<unsigned char> buffer_;
    std::size_t begin_ = 0, end_ = 0;
};

}  // namespace qlr
