#include "update/Package.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace qlr {

namespace {

constexpr std::size_t kBufferSize = std::size_t{64} * 1024;

// Ends the inflater or deflater on every path out of a call.
struct InflateStream {
    z_stream z{};
    bool live = false;
    InflateStream() {
        if (inflateInit2(&z, 15) != Z_OK) throw RunError("error");
        live = true;
    }
    ~InflateStream() {
        if (live) inflateEnd(&z);
    }
    InflateStream(const InflateStream&) = delete;
    InflateStream& operator=(const InflateStream&) = delete;
};

struct DeflateStream {
    z_stream z{};
    bool live = false;
    DeflateStream() {
        if (deflateInit(&z, Z_DEFAULT_COMPRESSION) != Z_OK) throw RunError("Cannot start compression");
        live = true;
    }
    ~DeflateStream() {
        if (live) deflateEnd(&z);
    }
    DeflateStream(const DeflateStream&) = delete;
    DeflateStream& operator=(const DeflateStream&) = delete;
};

std::int32_t FromLittleEndian(const unsigned char* b) {
    std::uint32_t v = std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 |
                      std::uint32_t(b[3]) << 24;
    return static_cast<std::int32_t>(v);
}

}  // namespace

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
    std::size_t n = file_.Read(buffer_.data(), buffer_.size());
    end_ = n;
    return n > 0;
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
    entry.size = ReadInt32();
    if (entry.size < 1) Damaged();  // nothing inflates to an empty file
    return entry;
}

std::int64_t PackageReader::InflateEntry(std::int32_t size,
                                         const std::function<bool(const char*, std::size_t)>& write) {
    if (size < 1) Damaged();
    InflateStream stream;
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
        if (produced > 0 && !write(reinterpret_cast<const char*>(out), produced))
            throw RunError("Stream write error");
        remaining -= produced;
        if (ret == Z_STREAM_END) {
            if (remaining != 0) Damaged();
            return compressed;
        }
    }
}

// ---- writing -------------------------------------------------------------

PackageWriter::PackageWriter(FileStream& out, std::int32_t count) : out_(out) { PutInt32(count); }

void PackageWriter::Put(const void* data, std::size_t count) {
    if (out_.Write(data, count) != count) throw RunError("Stream write error");
    written_ += static_cast<std::int64_t>(count);
}

void PackageWriter::PutInt32(std::int32_t value) {
    auto v = static_cast<std::uint32_t>(value);
    unsigned char raw[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                            static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
    Put(raw, sizeof raw);
}

void PackageWriter::AddEntry(const std::string& name, std::int32_t size,
                             const std::function<std::size_t(char*, std::size_t)>& read) {
    PutInt32(static_cast<std::int32_t>(name.size()));
    Put(name.data(), name.size());
    PutInt32(size);
    DeflateStream stream;
    z_stream& z = stream.z;
    std::vector<char> in(kBufferSize);
    std::vector<unsigned char> out(kBufferSize);
    std::int64_t total = 0;
    int flush = Z_NO_FLUSH;
    do {
        std::size_t n = read(in.data(), in.size());
        total += static_cast<std::int64_t>(n);
        if (total > size) throw RunError("The file for " + name + " is longer than its declared size");
        flush = n == 0 ? Z_FINISH : Z_NO_FLUSH;
        z.next_in = reinterpret_cast<Bytef*>(in.data());
        z.avail_in = static_cast<uInt>(n);
        do {
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            deflate(&z, flush);
            Put(out.data(), out.size() - z.avail_out);
        } while (z.avail_out == 0);
    } while (flush != Z_FINISH);
    if (total != size) throw RunError("The file for " + name + " is shorter than its declared size");
}

std::int64_t PackageWriter::Finish() {
    static const char zeros[kMaxServerMessageSize + 1] = {};
    if (written_ <= kMaxServerMessageSize)
        Put(zeros, static_cast<std::size_t>(kMaxServerMessageSize + 1 - written_));
    return written_;
}

}  // namespace qlr
