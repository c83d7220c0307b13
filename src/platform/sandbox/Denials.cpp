#include "platform/sandbox/Denials.h"

#include <fstream>
#include <stdexcept>

#include "base/Text.h"
#include "platform/sandbox/SandboxPlatform.h"

namespace qlr::sandbox {

std::string UpperKey(const std::vector<std::string>& components) {
    return UpperCase(PathMapper::WindowsOf(components));
}

std::string RegistryKeyName(const std::string& path) {
    std::string result;
    std::size_t start = 0;
    const std::string upper = UpperCase(path);
    while (start <= upper.size()) {
        std::size_t end = upper.find_first_of("\\/", start);
        if (end == std::string::npos) end = upper.size();
        std::string part = upper.substr(start, end - start);
        start = end + 1;
        if (part.empty()) continue;
        if (result.empty()) {
            if (part == "HKEY_LOCAL_MACHINE") part = "HKLM";
            if (part == "HKEY_CURRENT_USER") part = "HKCU";
        } else {
            result += '\\';
        }
        result += part;
    }
    return result;
}

Denials::Denials(const std::string& root, const PathMapper& mapper) {
    std::ifstream in(root + "/" + kDenialFileName, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const auto blank = line.find(' ');
        if (blank == std::string::npos) continue;
        const std::string kind = line.substr(0, blank);
        const std::string what = line.substr(blank + 1);
        if (kind == "key") {
            keys_.push_back(RegistryKeyName(what));
        } else if (kind == "file" || kind == "folder") {
            auto components = mapper.Resolve(what);
            if (!components) continue;
            (kind == "file" ? files_ : folders_).push_back(UpperKey(*components));
        }
    }
}

bool Denials::File(const std::string& path) const {
    for (const auto& file : files_)
        if (file == path) return true;
    return false;
}

bool Denials::Folder(const std::string& path) const {
    for (const auto& folder : folders_)
        if (folder == path) return true;
    return false;
}

bool Denials::UnderFolder(const std::string& path) const {
    for (const auto& folder : folders_) {
        const std::string prefix = folder.back() == '\\' ? folder : folder + "\\";
        if (path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0) return true;
    }
    return false;
}

bool Denials::Key(const std::string& keyPath) const {
    for (const auto& key : keys_)
        if (key == keyPath) return true;
    return false;
}

void DenyAccess(const std::string& root, const std::string& line) {
    std::ofstream out(root + "/" + kDenialFileName, std::ios::binary | std::ios::app);
    out << line << "\n";
    if (!out) throw std::runtime_error("cannot write the denial file under " + root);
}

}  // namespace qlr::sandbox
