#include "app/main.h"

namespace qlr {

// Filled in by the installation work.
bool TForm1::InstallFoundation() { return false; }
std::string TForm1::ReadFirebirdInstance() { return std::string(); }
void TForm1::CopyOneFile(const std::string& source, const std::string& target) { platform_.CopyFileOver(source, target); }
bool TForm1::DeleteFolderTree(const std::string& folder) { return platform_.DeleteFolderTree(folder); }

}  // namespace qlr
