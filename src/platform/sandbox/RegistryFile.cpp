#include "platform/sandbox/RegistryFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "base/Text.h"
#include "platform/sandbox/Denials.h"
#include "platform/sandbox/FdStream.h"
#include "platform/sandbox/PathMapper.h"
#include "platform/sandbox/UniqueFd.h"

namespace qlr::sandbox {

namespace {

std::string Encode(const std::string& text, const char* extra) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x20 || c == '%' || std::strchr(extra, c)) {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string Decode(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
            out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::vector<std::string> SplitKey(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find_first_of("\\/", start);
        if (end == std::string::npos) end = path.size();
        if (end > start) parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::string JoinKey(const std::vector<std::string>& parts) {
    std::string path;
    for (const auto& part : parts) path += (path.empty() ? "" : "\\") + part;
    return path;
}

bool IsBelowOrSame(const std::string& key, const std::string& path) {
    const std::string upperKey = UpperCase(key), upperPath = UpperCase(path);
    return upperKey == upperPath ||
           (upperKey.size() > upperPath.size() && upperKey.compare(0, upperPath.size(), upperPath) == 0 &&
            upperKey[upperPath.size()] == '\\');
}

// Writers take this lock around load, change and store; readers need none
// because the file is replaced whole by a rename.
class RegistryLock {
public:
    explicit RegistryLock(const std::string& root)
        : fd_(::open((root + "/registry.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
        if (fd_) flock(fd_.get(), LOCK_EX);
    }
    explicit operator bool() const { return static_cast<bool>(fd_); }

private:
    UniqueFd fd_;  // closing it releases the lock
};

std::string FilePath(const std::string& root) { return root + "/" + kRegistryFileName; }

RegistryData Load(const std::string& root) {
    std::ifstream in(FilePath(root), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return RegistryData::Parse(text.str());
}

bool Store(const std::string& root, const RegistryData& data) {
    const std::string path = FilePath(root), temporary = path + ".new";
    const std::string text = data.Text();
    UniqueFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd || !WriteAll(fd.get(), text.data(), text.size()) || fsync(fd.get()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    fd.Reset();
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

bool Denied(const std::string& root, const std::string& logicalPath) {
    PathMapper mapper(root);
    return Denials(root, mapper).Key(RegistryKeyName(logicalPath));
}

class SandboxKey : public RegistryKey {
public:
    SandboxKey(std::string root, std::string logicalPath) : root_(std::move(root)), path_(std::move(logicalPath)) {}

    RegistryValue ReadValue(const std::string& name) override {
        RegistryData data = Load(root_);
        RegistryValue result;
        auto* key = data.Find(StoredKeyPath(path_));
        if (!key) return result;
        for (const auto& value : key->values) {
            if (!SameName(value.name, name)) continue;
            const std::string type = UpperCase(value.type);
            if (type == "SZ" || type == "EXPAND") {
                result.kind = RegistryValue::Kind::String;
                result.text = value.data;
            } else {
                result.kind = RegistryValue::Kind::Other;
            }
        }
        return result;
    }

    bool WriteString(const std::string& name, const std::string& value) override {
        return WriteRegistryValue(root_, path_, name, "sz", value);
    }

    std::unique_ptr<RegistryKey> OpenSubKey(const std::string& path, bool create) override {
        return OpenSandboxKey(root_, path_ + "\\" + path, create);
    }

private:
    std::string root_;
    std::string path_;  // hive and path as the program sees them
};

}  // namespace

RegistryData RegistryData::Parse(const std::string& text) {
    RegistryData data;
    std::istringstream in(text);
    std::string line;
    std::size_t current = 0;  // index + 1 of the key being read
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            const auto close = line.rfind(']');
            if (close == std::string::npos) continue;
            const std::string path = Decode(line.substr(1, close - 1));
            data.Ensure(path);
            current = static_cast<std::size_t>(data.Find(path) - data.keys.data()) + 1;
            continue;
        }
        if (!current) continue;
        std::string name;
        std::size_t rest = 0;
        if (line.rfind("@=", 0) == 0) {
            rest = 2;
        } else if (line[0] == '"') {
            const auto close = line.find('"', 1);
            if (close == std::string::npos || close + 1 >= line.size() || line[close + 1] != '=') continue;
            name = Decode(line.substr(1, close - 1));
            rest = close + 2;
        } else {
            continue;
        }
        const auto colon = line.find(':', rest);
        if (colon == std::string::npos) continue;
        const std::string type = line.substr(rest, colon - rest), value = Decode(line.substr(colon + 1));
        bool replaced = false;
        auto& values = data.keys[current - 1].values;
        for (auto& existing : values)
            if (SameName(existing.name, name)) {
                existing.type = type;
                existing.data = value;
                replaced = true;
            }
        if (!replaced) values.push_back({name, type, value});
    }
    return data;
}

std::string RegistryData::Text() const {
    std::string text = "; Sandbox registry. \"name\"=type:data; sz and expand are strings; %XX escapes bytes.\n";
    for (const auto& key : keys) {
        text += "\n[" + Encode(key.path, "]") + "]\n";
        for (const auto& value : key.values) {
            text += value.name.empty() ? std::string("@") : "\"" + Encode(value.name, "\"") + "\"";
            text += "=" + value.type + ":" + Encode(value.data, "") + "\n";
        }
    }
    return text;
}

bool RegistryData::Exists(const std::string& path) const {
    for (const auto& key : keys)
        if (IsBelowOrSame(key.path, path)) return true;
    return false;
}

RegistryData::Key* RegistryData::Find(const std::string& path) {
    const std::string wanted = JoinKey(SplitKey(path));
    for (auto& key : keys)
        if (SameName(key.path, wanted)) return &key;
    return nullptr;
}

RegistryData::Key& RegistryData::Ensure(const std::string& path) {
    if (auto* key = Find(path)) return *key;
    keys.push_back({JoinKey(SplitKey(path)), {}});
    return keys.back();
}

std::string StoredKeyPath(const std::string& logicalPath) {
    auto parts = SplitKey(logicalPath);
    if (parts.empty()) return std::string();
    const std::string hive = UpperCase(parts[0]);
    if (hive == "HKEY_CURRENT_USER") parts[0] = "HKCU";
    if (hive == "HKLM" || hive == "HKEY_LOCAL_MACHINE") {
        parts[0] = "HKLM";
        if (parts.size() > 1 && UpperCase(parts[1]) == "SOFTWARE") parts[0] = "HKLM32";
    }
    return JoinKey(parts);
}

std::unique_ptr<RegistryKey> OpenSandboxKey(const std::string& root, const std::string& logicalPath, bool create) {
    if (Denied(root, logicalPath)) return nullptr;
    const std::string stored = StoredKeyPath(logicalPath);
    if (SplitKey(stored).size() < 2) return std::make_unique<SandboxKey>(root, logicalPath);  // a hive itself
    if (!Load(root).Exists(stored)) {
        if (!create) return nullptr;
        RegistryLock lock(root);
        if (!lock) return nullptr;
        RegistryData data = Load(root);
        data.Ensure(stored);
        if (!Store(root, data)) return nullptr;
    }
    return std::make_unique<SandboxKey>(root, logicalPath);
}

bool WriteRegistryValue(const std::string& root, const std::string& logicalPath, const std::string& name,
                        const std::string& type, const std::string& data) {
    RegistryLock lock(root);
    if (!lock) return false;
    RegistryData registry = Load(root);
    auto& key = registry.Ensure(StoredKeyPath(logicalPath));
    bool replaced = false;
    for (auto& value : key.values)
        if (SameName(value.name, name)) {
            value.type = type;
            value.data = data;
            replaced = true;
        }
    if (!replaced) key.values.push_back({name, type, data});
    return Store(root, registry);
}

}  // namespace qlr::sandbox
