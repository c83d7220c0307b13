#include "update/Package.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "update/ZlibStream.h"

namespace qlr {

namespace {

constexpr std::size_t kBufferSize = std::size_t{64} * 1024;

std::int32_t FromLittleEndian(const unsigned char* b) {
    std::uint32_t v =
        std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 | std::uint32_t(b[3]) << 24;
    return static_cast<std::int32_t>(v);
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsDeviceName(std::string_view component) {
    std::string base(component.substr(0, component.find('.')));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    for (char& c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (base == device) return true;
    if (base.size() != 4 || (base.compare(0, 3, "COM") != 0 && base.compare(0, 3, "LPT") != 0)) return false;
    const unsigned char digit = static_cast<unsigned char>(base[3]);
    // COM1..COM9 and the superscript digits that Windows also takes as devices.
    return (digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

bool IsPlainComponent(std::string_view component) {
    // Windows drops trailing dots and blanks, so "..." or ". " would name another folder.
    if (component.empty() || component.back() == '.' || component.back() == ' ') return false;
    for (unsigned char c : component)
        if (c < 0x20 || std::strchr("<>:\"|?*", c)) return false;
    return !IsDeviceName(component);
}

}  // namespace

bool IsSafeEntryPath(std::string_view path) {
    if (path.size() < 4 || (path[0] != 'C' && path[0] != 'c') || path[1] != ':' || !IsSeparator(path[2])) return false;
    std::size_t start = 3;
    for (;;) {
        std::size_t end = start;
        while (end < path.size() && !IsSeparator(path[end])) ++end;
        if (!IsPlainComponent(path.substr(start, end - start))) return false;
        if (end == path.size()) return true;
        start = end + 1;
    }
}

// ---- reading -------------------------------------------------------------

PackageReader::PackageReader(FileStream& file, std::string packageName)
    : file_(file), packageName_(std::move(packageName)), buffer_(kBufferSize) {
    fileSize_ = file_.Size();
    file_.Seek(0);
}

std::string PackageReader::DamagedMessage(const std::string& packageName) {
    return "The package " + packageName + " is damaged";
}

void PackageReader::Damaged() const { throw RunError(DamagedMessage(packageName_)); }

bool PackageReader::Fill() {
    if (begin_ < end_) return true;
    begin_ = end_ = 0;
    const FileRead read = file_.Read(buffer_.data(), buffer_.size());
    if (read.failed) throw RunError("Cannot read file " + packageName_);
    end_ = read.count;
    return read.count > 0;
}

void PackageReader::ReadExact(void* target, std::size_t count) {
    auto* out = static_cast<unsigned char*>(target);
    while (count > 0) {
        if (!Fill()) Damaged();
        std::size_t n = std::min(count, end_ - begin_);
        std::memcpy(out, buffer_.data() + begin_, n);
        begin_ += n;
        consumed_ += static_cast<std::int64_t>(n);
        out += n;
        count -= n;
    }
}

std::int32_t PackageReader::ReadInt32() {
    unsigned char raw[4];
    ReadExact(raw, sizeof raw);
    return FromLittleEndian(raw);
}

std::int32_t PackageReader::ReadCount() { return ReadInt32(); }

PackageEntry PackageReader::ReadEntryHeader() {
    PackageEntry entry;
    std::int32_t length = ReadInt32();
    // Checked before allocating: a bad length must not reserve more than the file holds.
    if (length < 1 || length > Remaining()) Damaged();
    entry.name.resize(static_cast<std::size_t>(length));
    ReadExact(entry.name.data(), entry.name.size());
    if (!IsSafeEntryPath(entry.name)) Damaged();
    entry.size = ReadInt32();
    if (entry.size < 1) Damaged();  // nothing inflates to an empty file
    return entry;
}

std::int64_t PackageReader::InflateEntry(std::int32_t size,
                                         const std::function<bool(const char*, std::size_t)>& write) {
    if (size < 1) Damaged();
    ZlibStream<inflateEnd> stream;
    if (!stream.Started(inflateInit2(&stream.z, 15))) throw RunError("error");
    z_stream& z = stream.z;
    unsigned char out[kBufferSize];
    std::uint64_t remaining = static_cast<std::uint64_t>(size);
    std::int64_t compressed = 0;
    for (;;) {
        if (begin_ == end_ && !Fill()) Damaged();  // the file ends inside the stream
        z.next_in = buffer_.data() + begin_;
        z.avail_in = static_cast<uInt>(end_ - begin_);
        // Room for one byte more than declared, so a stream that runs long is seen.
        z.next_out = out;
        z.avail_out = static_cast<uInt>(std::min<std::uint64_t>(sizeof out, remaining + 1));
        int ret = inflate(&z, Z_NO_FLUSH);
        std::size_t used = (end_ - begin_) - z.avail_in;
        begin_ += used;
        consumed_ += static_cast<std::int64_t>(used);
        compressed += static_cast<std::int64_t>(used);
        std::size_t produced = static_cast<std::size_t>(z.next_out - out);
        if (ret != Z_OK && ret != Z_STREAM_END && ret != Z_BUF_ERROR) throw RunError("error");
        if (produced > remaining) Damaged();
        if (produced > 0 && !write(reinterpret_cast<const char*>(out), produced)) throw RunError("Stream write error");
        remaining -= produced;
        if (ret == Z_STREAM_END) {
            if (remaining != 0) Damaged();
            return compressed;
        }
    }
}

}  // namespace qlr
