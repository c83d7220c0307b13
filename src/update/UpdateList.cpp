#include "update/UpdateList.h"

#include "base/Text.h"

namespace qlr {

std::optional<std::string> PackageNameFromLine(std::string_view line) {
    const auto prefix = line.find("QLR");
    if (prefix == std::string_view::npos || !Contains(line, ".pak")) return std::nullopt;
    const std::string_view tail = line.substr(prefix, 999);
    const auto space = tail.find(' ');
    // The name stops five characters before the first blank: ".pak" and the blank itself.
    if (space == std::string_view::npos || space < 5) return std::string();
    return std::string(tail.substr(0, space - 4));
}

UpdateOffer ReadUpdateList(std::string_view listText) {
    UpdateOffer offer;
    for (const std::string& line : SplitLines(listText)) {
        auto name = PackageNameFromLine(line);
        if (!name) continue;
        if (OrdinalGreater(*name, offer.best)) offer.best = *name;
        offer.names.push_back(std::move(*name));
    }
    if (offer.best.size() > 3) offer.version = offer.best.substr(3, 999);
    return offer;
}

}  // namespace qlr
