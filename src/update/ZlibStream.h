#pragma once
// A zlib stream that is ended on every path out of a call, for the reader
// (End: inflateEnd) and the package tool's writer (deflateEnd).

#include <zlib.h>

namespace qlr {

template <int (*End)(z_streamp)>
class ZlibStream {
public:
    ZlibStream() = default;
    ~ZlibStream() {
        if (live_) End(&z);
    }
    ZlibStream(const ZlibStream&) = delete;
    ZlibStream& operator=(const ZlibStream&) = delete;

    // Takes the result of the init call on z; false when it did not start.
    bool Started(int initResult) {
        live_ = initResult == Z_OK;
        return live_;
    }

    z_stream z{};

private:
    bool live_ = false;
};

}  // namespace qlr
