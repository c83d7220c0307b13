#include "platform/sandbox/PathMapper.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace qlr::sandbox {

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

namespace {

std::string RealPath(const std::string& path) {
    char buffer[PATH_MAX];
    return realpath(path.c_str(), buffer) ? std::string(buffer) : path;
}

bool ValidName(const std::string& name) {
    for (unsigned char c : name)
        if (c < 0x20 || std::strchr("<>:\"|?*", c)) return false;
    return true;
}

}  // namespace

std::optional<std::string> FindEntry(const std::string& folder, const std::string& name) {
    struct stat info;
    if (lstat((folder + "/" + name).c_str(), &info) == 0) return name;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
    if (!dir) return std::nullopt;
    while (dirent* entry = readdir(dir.get()))
        if (SameName(entry->d_name, name)) return std::string(entry->d_name);
    return std::nullopt;
}

PathMapper::PathMapper(const std::string& root) : drive_(root + "/drive_c"), realDrive_(RealPath(drive_)) {
    char buffer[PATH_MAX];
    if (getcwd(buffer, sizeof buffer))
        if (auto inside = FromHost(buffer)) current_ = *inside;
}

std::optional<std::vector<std::string>> PathMapper::Parse(const std::string& windowsPath) const {
    std::string path = windowsPath;
    for (char& c : path)
        if (c == '/') c = '\\';
    if (path.empty() || path.rfind("\\\\", 0) == 0) return std::nullopt;  // UNC and device paths

    std::vector<std::string> components;
    std::size_t start = 0;
    if (path.size() >= 2 && path[1] == ':') {
        if (path[0] != 'C' && path[0] != 'c') return std::nullopt;
        start = 2;
        // "C:name" is relative to the current folder of drive C.
        if (start < path.size() && path[start] != '\\') components = current_;
    } else if (path[0] != '\\') {
        components = current_;
    }

    while (start <= path.size()) {
        std::size_t end = path.find('\\', start);
        if (end == std::string::npos) end = path.size();
        std::string name = path.substr(start, end - start);
        start = end + 1;
        if (name.empty() || name == ".") continue;
        if (name == "..") {
            if (!components.empty()) components.pop_back();  // ".." at the root stays there
            continue;
        }
        // Windows drops trailing dots and blanks of a name.
        while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
        if (name.empty()) continue;
        if (!ValidName(name)) return std::nullopt;
        components.push_back(name);
    }
    return components;
}

std::optional<std::vector<std::string>> PathMapper::Resolve(const std::string& windowsPath) const {
    auto components = Parse(windowsPath);
    if (!components) return std::nullopt;
    std::string host = drive_;
    for (auto& name : *components) {
        auto found = FindEntry(host, name);
        if (!found) break;  // this and everything below it keep their given case
        name = *found;
        host += "/" + name;
    }
    return components;
}

std::string PathMapper::HostOf(const std::vector<std::string>& components) const {
    std::string host = drive_;
    for (const auto& name : components) host += "/" + name;
    return host;
}

std::string PathMapper::WindowsOf(const std::vector<std::string>& components) {
    if (components.empty()) return "C:\\";
    std::string text = "C:";
    for (const auto& name : components) text += "\\" + name;
    return text;
}

std::optional<std::string> PathMapper::ToHost(const std::string& windowsPath) const {
    auto components = Resolve(windowsPath);
    if (!components) return std::nullopt;
    return HostOf(*components);
}

std::optional<std::string> PathMapper::ToWindows(const std::string& windowsPath) const {
    auto components = Resolve(windowsPath);
    if (!components) return std::nullopt;
    return WindowsOf(*components);
}

std::optional<std::vector<std::string>> PathMapper::FromHost(const std::string& hostPath) const {
    const std::string real = RealPath(hostPath);
    if (real == realDrive_) return std::vector<std::string>();
    if (real.compare(0, realDrive_.size() + 1, realDrive_ + "/") != 0) return std::nullopt;
    std::vector<std::string> components;
    std::size_t start = realDrive_.size() + 1;
    while (start < real.size()) {
        std::size_t end = real.find('/', start);
        if (end == std::string::npos) end = real.size();
        if (end > start) components.push_back(real.substr(start, end - start));
        start = end + 1;
    }
    return components;
}

bool PathMapper::SetCurrent(const std::string& windowsPath) {
    auto components = Resolve(windowsPath);
    if (!components) return false;
    struct stat info;
    if (stat(HostOf(*components).c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
    current_ = *components;
    return true;
}

}  // namespace qlr::sandbox
