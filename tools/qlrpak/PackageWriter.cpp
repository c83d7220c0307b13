#include "PackageWriter.h"

#include <vector>

#include "update/Package.h"
#include "update/ZlibStream.h"

namespace qlr {

namespace {

constexpr std::size_t kBufferSize = std::size_t{64} * 1024;

}  // namespace

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
    if (!IsSafeEntryPath(name))
        throw RunError("The program refuses to write to " + name +
                       " (an entry path must be absolute on drive C:, e.g. C:\\TSLData\\QLR\\QLR6-39.exe)");
    PutInt32(static_cast<std::int32_t>(name.size()));
    Put(name.data(), name.size());
    PutInt32(size);
    ZlibStream<deflateEnd> stream;
    if (!stream.Started(deflateInit(&stream.z, Z_DEFAULT_COMPRESSION))) throw RunError("Cannot start compression");
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
    if (written_ <= kMaxServerMessageSize) Put(zeros, static_cast<std::size_t>(kMaxServerMessageSize + 1 - written_));
    return written_;
}

}  // namespace qlr
