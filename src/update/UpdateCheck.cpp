#include "app/main.h"

namespace qlr {

void TForm1::CheckForUpdates(const std::string& schoolName, const std::string& smsid) {
    (void)schoolName;
    (void)smsid;
    AddLogLine("Accessing cloud");  // filled in by the updates work
}

}  // namespace qlr
