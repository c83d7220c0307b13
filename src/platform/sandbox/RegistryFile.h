#pragma once
// The sandbox registry: one text file, ROOT/registry.txt, that every
// program of the sandbox reads and writes at once.
//
//   [HKCU\Software\Some Key]
//   "Name"=sz:text
//   "Count"=dword:00000001
//   @=sz:the default value
//
// Hives: HKCU, HKLM, and HKLM32, the 32-bit view of HKLM\Software. Types
// "sz" and "expand" are strings; any other type is a value of another kind.
// Bytes below 0x20, "%" and, in names, '"' and ']' are written as %XX.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace qlr::sandbox {

inline constexpr const char* kRegistryFileName = "registry.txt";

struct RegistryData {
    struct Value {
        std::string name, type, data;
    };
    struct Key {
        std::string path;  // "HKCU\Software\X", case as first written
        std::vector<Value> values;
    };
    std::vector<Key> keys;

    static RegistryData Parse(const std::string& text);
    std::string Text() const;
    // Keys exist when listed, or when a key below them is.
    bool Exists(const std::string& path) const;
    Key* Find(const std::string& path);
    Key& Ensure(const std::string& path);
};

// A hive and path as the 32-bit program sees it ("HKLM\Software\X") into the
// key where the file keeps it ("HKLM32\Software\X").
std::string StoredKeyPath(const std::string& logicalPath);

// Opens a key with full access; nullptr when it does not exist (and create
// is false), when denied, or when the file cannot be written.
std::unique_ptr<RegistryKey> OpenSandboxKey(const std::string& root, const std::string& logicalPath, bool create);

// Writes a value of any type (tests use it for non-string values).
bool WriteRegistryValue(const std::string& root, const std::string& logicalPath, const std::string& name,
                        const std::string& type, const std::string& data);

}  // namespace qlr::sandbox
