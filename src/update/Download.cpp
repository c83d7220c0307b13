#include "app/main.h"

namespace qlr {

void TForm1::DownloadFile(const std::string& url, const std::string& localPath) {
    (void)localPath;
    throw RunError("Cannot open URL: " + url);  // filled in by the downloads work
}

}  // namespace qlr
