#include "install/RegistryText.h"

namespace qlr {

std::string ReadRegistryText(RegistryKey& key, const std::string& name) {
    const RegistryValue value = key.ReadValue(name);
    switch (value.kind) {
        case RegistryValue::Kind::String: return value.text;
        case RegistryValue::Kind::Missing: return std::string();
        case RegistryValue::Kind::Other: break;
    }
    throw RunError("Invalid data type for registry value '" + name + "'");
}

}  // namespace qlr
