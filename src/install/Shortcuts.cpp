#include "app/main.h"
#include "base/Text.h"
#include "install/RegistryText.h"

namespace qlr {

namespace {

constexpr const char* kExplorerKey = "Software\\MicroSoft\\Windows\\CurrentVersion\\Explorer";
constexpr const char* kGrpConvKey = "Software\\MicroSoft\\Windows\\CurrentVersion\\GrpConv";

// The suite programs by the text their path holds; a later match wins.
struct SuiteProgram {
    const char* pathText;
    const char* name;
};
constexpr SuiteProgram kSuitePrograms[] = {
    {"TOVANEL", "Tovanel"},
    {"QLR", "Tovanel"},
    {"QUENMORAL", "Quenmoral"},
    {"PEXIL", "Pexil"},
};

// The target's file name with its extension (after the last dot of that name) made ".lnk".
std::string LinkFileName(const std::string& target) {
    const auto lastDelimiter = target.find_last_of("\\:");
    const auto dot = target.rfind('.');
    const bool hasExtension = dot != std::string::npos && (lastDelimiter == std::string::npos || dot > lastDelimiter);
    return ExtractFileName((hasExtension ? target.substr(0, dot) : target) + ".lnk");
}

// One value of a subkey of key; empty when the key, the subkey or the value is missing.
std::string ReadFolderValue(RegistryKey* key, const std::string& subKey, const std::string& value) {
    if (!key) return std::string();
    auto sub = key->OpenSubKey(subKey, false);
    return sub ? ReadRegistryText(*sub, value) : std::string();
}

}  // namespace

void TForm1::MakeSuiteShortcuts() {
    const std::string ownPath = UpperCase(platform_.OwnPath());
    std::string name;
    for (const SuiteProgram& program : kSuitePrograms)
        if (Contains(ownPath, program.pathText)) name = program.name;
    const std::string target = "c:\\Program Files\\Tessaly\\Quillory\\" + name + ".exe";
    MakeShortcut(target, 1);
    AddLogLine("Created Shortcut in Desktop");
    MakeShortcut(target, 2);
    AddLogLine("Created Shortcut in Start Menu");
}

void TForm1::MakeShortcut(const std::string& target, int shortcutLocation) {
    auto link = platform_.CreateShellLink();
    link->SetPath(target);
    auto explorer = platform_.OpenRegistryKey(RegistryRoot::CurrentUser, kExplorerKey, true);
    const std::string linkName = LinkFileName(target);

    std::string folder;
    switch (shortcutLocation) {
        case 1: folder = ReadFolderValue(explorer.get(), "Shell Folders", "Desktop"); break;
        case 2: folder = ReadFolderValue(explorer.get(), "Shell Folders", "Start Menu"); break;
        case 4: folder = ReadFolderValue(explorer.get(), "Shell Folders", "Programs"); break;
        case 3: {
            auto grpConv = platform_.OpenRegistryKey(RegistryRoot::CurrentUser, kGrpConvKey, true);
            folder = ReadFolderValue(grpConv.get(), "MapGroups", "Quick Launch");
            break;
        }
        default: break;
    }
    if (folder.empty()) {
        AppendLogText("FAILED - no directory");
        return;
    }

    const std::string linkPath = folder + "\\" + linkName;
    if (platform_.FileExists(linkPath)) {
        AddLogLine("Shortcut for " + linkPath + " already existed");
        return;
    }
    link->Save(linkPath);
    // The save's own answer is not trusted: only a file on disk counts as a shortcut.
    if (platform_.FileExists(linkPath))
        AddLogLine("Created Shortcut for " + linkPath);
    else
        AddLogLine("Creating Shortcut for " + linkPath + " ...FAILED");
}

}  // namespace qlr
