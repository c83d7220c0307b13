// Any bytes given as a package: the reader must end with a result or one of
// its own errors, never read past the end or allocate beyond the file.
#include <cstdint>
#include <cstring>
#include <string>

#include "update/Package.h"

namespace {
class MemoryStream : public qlr::FileStream {
public:
    MemoryStream(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    qlr::FileRead Read(void* buffer, std::size_t count) override {
        std::size_t n = std::min(count, size_ - position_);
        std::memcpy(buffer, data_ + position_, n);
        position_ += n;
        return qlr::FileRead{n, false};
    }
    std::size_t Write(const void*, std::size_t) override { return 0; }
    bool Sync() override { return false; }
    std::int64_t Size() override { return static_cast<std::int64_t>(size_); }
    std::int64_t Position() override { return static_cast<std::int64_t>(position_); }
    bool Seek(std::int64_t position) override {
        if (position < 0 || static_cast<std::size_t>(position) > size_) return false;
        position_ = static_cast<std::size_t>(position);
        return true;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    MemoryStream stream(data, size);
    try {
        qlr::PackageReader reader(stream, "fuzz.pak");
        const std::int32_t count = reader.ReadCount();
        for (std::int32_t i = 0; i < count && i < qlr::kMaxPackageEntries; ++i) {
            const qlr::PackageEntry entry = reader.ReadEntryHeader();
            std::int64_t written = 0;
            reader.InflateEntry(entry.size, [&](const char*, std::size_t n) {
                written += static_cast<std::int64_t>(n);
                return true;
            });
            if (written != entry.size) __builtin_trap();  // a clean end means exactly the declared size
        }
    } catch (const qlr::RunError&) {
    }
    return 0;
}
