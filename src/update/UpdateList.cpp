#include "update/UpdateList.h"

#include <algorithm>

#include "base/Text.h"

namespace qlr {

bool IsPlainFileName(std::string_view name) {
    if (name.find_first_of("\\/:") != std::string_view::npos || Contains(name, "..")) return false;
    for (char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    return true;
}

std::optional<std::string> PackageNameFromLine(std::string_view line) {
    const auto prefix = line.find("QLR");
    if (prefix == std::string_view::npos || !Contains(line, ".pak")) return std::nullopt;
    const std::string_view tail = line.substr(prefix, 999);
    const auto space = tail.find(' ');
    // The name stops five characters before the first blank: ".pak" and the blank itself.
    if (space == std::string_view::npos || space < 5) return std::string();
    // The name becomes part of a local path and an address: it must not lead anywhere else.
    const std::string_view name = tail.substr(0, space - 4);
    if (!IsPlainFileName(name)) return std::nullopt;
    return std::string(name);
}

UpdateOffer ReadUpdateList(std::string_view listText) {
    UpdateOffer offer;
    // Line by line in place: a list of blank lines costs no more than its text.
    for (std::size_t start = 0; start < listText.size();) {
        const std::size_t end = std::min(listText.find_first_of("\r\n", start), listText.size());
        auto name = PackageNameFromLine(listText.substr(start, end - start));
        start = end + (listText.substr(end, 2) == "\r\n" ? 2 : 1);
        if (!name) continue;
        if (OrdinalGreater(*name, offer.best)) offer.best = *name;
        offer.names.push_back(std::move(*name));
    }
    if (offer.best.size() > 3) offer.version = offer.best.substr(3, 999);
    return offer;
}

}  // namespace qlr
