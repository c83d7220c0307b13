// Any server reply read as the update list: the choice must hold its own
// rules whatever the text, and no name it takes may lead anywhere else.
#include <cstdint>
#include <string>

#include "base/Text.h"
#include "update/UpdateList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const qlr::UpdateOffer offer = qlr::ReadUpdateList(text);
    for (const auto& name : offer.names) {
        if (qlr::OrdinalGreater(name, offer.best)) __builtin_trap();  // best is the highest
        if (name.size() > 999) __builtin_trap();
        // A name ends up in a local path and an address: it may never lead out of their folders.
        if (name.find_first_of("\\/:") != std::string::npos || name.find("..") != std::string::npos) __builtin_trap();
        for (char c : name)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) __builtin_trap();
    }
    if (offer.best.size() > 3 && offer.version != offer.best.substr(3)) __builtin_trap();
    if (offer.best.size() <= 3 && !offer.version.empty()) __builtin_trap();
    return 0;
}
