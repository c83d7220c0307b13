#include "update/UpdateServer.h"

#include <cstdlib>

#include "platform/Platform.h"

#ifndef QLR_UPDATE_BASE_URL
#define QLR_UPDATE_BASE_URL "http://updates.quillory.invalid/qlr/"
#endif

namespace qlr {

std::string UpdateBaseUrl() {
    const char* fromEnvironment = std::getenv("QLR_UPDATE_BASE_URL");
    std::string base = (fromEnvironment && *fromEnvironment) ? fromEnvironment : QLR_UPDATE_BASE_URL;
    if (base.empty() || base.back() != '/') throw RunError("The update server address must end in \"/\": " + base);
    return base;
}

std::string PercentEncode(std::string_view value) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        auto b = static_cast<unsigned char>(c);
        bool unreserved = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '-' ||
                          b == '.' || b == '_' || b == '~';
        if (unreserved) {
            out += c;
        } else {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 15];
        }
    }
    return out;
}

std::string UpdateListUrl(const std::string& base, std::string_view school, std::string_view smsid,
                          std::string_view user) {
    return base + "index.php?School=" + PercentEncode(school) + "&SMSID=" + PercentEncode(smsid) +
           "&USER=" + PercentEncode(user);
}

}  // namespace qlr
