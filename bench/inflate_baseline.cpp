// The floor for unpacking: each stream of a package inflated with plain
// zlib straight into its file, nothing else (no checks beyond zlib's own,
// no temporary files, no displays).
//
//   inflate_baseline PAK OUTDIR [--flush]
//
// Files are written as OUTDIR/1, OUTDIR/2, ...; --flush puts each on disk
// (fsync) before the next, the floor of an install that survives power loss.

#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    const bool flush = argc == 4 && std::string(argv[3]) == "--flush";
    if (argc != 3 && !flush) {
        std::fprintf(stderr, "usage: inflate_baseline PAK OUTDIR [--flush]\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    std::FILE* in = std::fopen(argv[1], "rb");
    if (!in) return 1;
    auto int32 = [&] {
        unsigned char b[4];
        if (std::fread(b, 1, 4, in) != 4) std::exit(1);
        return static_cast<std::int32_t>(b[0] | b[1] << 8 | b[2] << 16 | static_cast<std::uint32_t>(b[3]) << 24);
    };
    std::vector<unsigned char> input(64 * 1024), output(64 * 1024);
    const std::int32_t count = int32();
    for (std::int32_t i = 1; i <= count; ++i) {
        std::string name(static_cast<std::size_t>(int32()), '\0');
        if (std::fread(name.data(), 1, name.size(), in) != name.size()) return 1;
        int32();
        std::FILE* out = std::fopen((std::string(argv[2]) + "/" + std::to_string(i)).c_str(), "wb");
        if (!out) return 1;
        z_stream z{};
        inflateInit(&z);
        int ret = Z_OK;
        while (ret != Z_STREAM_END) {
            if (z.avail_in == 0) {
                z.avail_in = static_cast<uInt>(std::fread(input.data(), 1, input.size(), in));
                z.next_in = input.data();
                if (z.avail_in == 0) return 1;
            }
            z.next_out = output.data();
            z.avail_out = static_cast<uInt>(output.size());
            ret = inflate(&z, Z_NO_FLUSH);
            if (ret != Z_OK && ret != Z_STREAM_END) return 1;
            std::fwrite(output.data(), 1, output.size() - z.avail_out, out);
        }
        std::fseek(in, -static_cast<long>(z.avail_in), SEEK_CUR);  // give back the read-ahead
        inflateEnd(&z);
        if (flush && (std::fflush(out) != 0 || fsync(fileno(out)) != 0)) return 1;
        std::fclose(out);
    }
    std::fclose(in);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf("%.3f\n", took.count());
    return 0;
}
