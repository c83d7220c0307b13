// Any bytes as the end of a package, and as a key file: the trailer reader
// must end with a verdict, read only what it was given, and a trailer it
// accepts must be exactly the one the writer makes for its name and signature.
#include <cstdint>
#include <string_view>

#include "update/Signature.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const qlr::SignatureTrailer trailer = qlr::ParseTrailer(bytes);
    if (trailer.kind == qlr::SignatureTrailer::Kind::Present) {
        const std::string rebuilt =
            qlr::TrailerSignedPart(trailer.name) + qlr::TrailerClosingPart(trailer.signature, trailer.name);
        if (trailer.name.empty() || trailer.name.size() > 255 ||
            static_cast<std::int64_t>(rebuilt.size()) != trailer.size ||
            bytes.substr(bytes.size() - rebuilt.size()) != rebuilt)
            __builtin_trap();
    }
    try {
        for (const auto& key : qlr::ParsePublicKeys(bytes)) (void)key;
    } catch (const qlr::RunError&) {
    }
    return 0;
}
