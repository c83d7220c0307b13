#include "app/main.h"
#include "update/Package.h"
#include "update/Signature.h"

namespace qlr {

bool TForm1::PackageTrusted(const std::string& packagePath, const std::string& packageName) {
    if (ReleaseKeys.empty()) return true;  // a build without release keys checks nothing
    std::string reason;
    {
        auto file = platform_.OpenForRead(packagePath);
        // A missing file or a server message is the unpacker's to report, as in every build.
        if (!file || file->Size() <= kMaxServerMessageSize) return true;
        reason = RefusalReason(CheckSignature(*file, ReleaseKeys), packageName);
    }
    if (reason.empty()) return true;
    AddLogLine("Package refused: " + packagePath.substr(packagePath.find_last_of('\\') + 1) + " (" + reason + ")");
    platform_.RemoveFile(packagePath);
    return false;
}

}  // namespace qlr
