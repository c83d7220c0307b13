#include "platform/win32/Win32Registry.h"

#include <windows.h>

#include <cstring>
#include <vector>

#include "platform/win32/Handles.h"

namespace qlr::win32 {

namespace {

// Only the rights the key is used with: a standard user is refused full access to HKEY_LOCAL_MACHINE, and a
// read must not fail for that as if the key were missing.
constexpr REGSAM kReadAccess = KEY_READ | KEY_WOW64_32KEY;
constexpr REGSAM kWriteAccess = KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_WOW64_32KEY;

UniqueKey Open(HKEY parent, const std::string& path, bool create) {
    UniqueKey key;
    LONG status;
    if (create)
        status = ::RegCreateKeyExA(parent, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, kWriteAccess, nullptr,
                                   key.put(), nullptr);
    else
        status = ::RegOpenKeyExA(parent, path.c_str(), 0, kReadAccess, key.put());
    if (status != ERROR_SUCCESS) key.release();
    return key;
}

class Win32Key : public RegistryKey {
public:
    explicit Win32Key(UniqueKey key) : key_(std::move(key)) {}

    RegistryValue ReadValue(const std::string& name) override {
        RegistryValue result;
        std::vector<char> data(256);
        for (;;) {
            DWORD type = REG_NONE;
            DWORD size = static_cast<DWORD>(data.size());
            const LONG status = ::RegQueryValueExA(key_.get(), name.c_str(), nullptr, &type,
                                                   reinterpret_cast<BYTE*>(data.data()), &size);
            if (status == ERROR_MORE_DATA) {
                data.resize(size + 1);
                continue;
            }
            if (status == ERROR_FILE_NOT_FOUND) return result;
            if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
                result.kind = RegistryValue::Kind::Other;
                return result;
            }
            // The stored text may or may not carry its terminating NUL; it ends at the first one.
            result.kind = RegistryValue::Kind::String;
            result.text.assign(data.data(), strnlen(data.data(), size));
            return result;
        }
    }

    bool WriteString(const std::string& name, const std::string& value) override {
        return ::RegSetValueExA(key_.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
    }

    std::unique_ptr<RegistryKey> OpenSubKey(const std::string& path, bool create) override {
        UniqueKey sub = Open(key_.get(), path, create);
        if (!sub) return nullptr;
        return std::make_unique<Win32Key>(std::move(sub));
    }

private:
    UniqueKey key_;
};

}  // namespace

std::unique_ptr<RegistryKey> OpenKey(RegistryRoot root, const std::string& path, bool create) {
    HKEY parent = root == RegistryRoot::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    UniqueKey key = Open(parent, path, create);
    if (!key) return nullptr;
    return std::make_unique<Win32Key>(std::move(key));
}

}  // namespace qlr::win32
