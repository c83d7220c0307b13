#pragma once
// Windows paths onto the sandbox folder: "C:\x\y" is ROOT/drive_c/x/y. Each
// component matches an existing entry regardless of case, as on Windows; a
// component that does not exist keeps the case it was given.

#include <optional>
#include <string>
#include <vector>

namespace qlr::sandbox {

class PathMapper {
public:
    // root is the sandbox root; ROOT/drive_c plays C:. The current folder
    // starts as the process's own when that lies in drive_c, else C:\.
    explicit PathMapper(const std::string& root);

    // Components below C:\ after "." and ".." are applied, in the case found
    // on disk; nullopt for other drives, UNC paths and invalid names.
    std::optional<std::vector<std::string>> Resolve(const std::string& windowsPath) const;
    std::optional<std::string> ToHost(const std::string& windowsPath) const;
    // "C:\x\y" as Windows reports it (on-disk case, no trailing backslash but
    // for the drive root).
    std::optional<std::string> ToWindows(const std::string& windowsPath) const;

    std::string HostOf(const std::vector<std::string>& components) const;
    static std::string WindowsOf(const std::vector<std::string>& components);
    // A host path inside drive_c as its components; nullopt when outside.
    std::optional<std::vector<std::string>> FromHost(const std::string& hostPath) const;

    bool SetCurrent(const std::string& windowsPath);  // false unless an existing folder
    const std::vector<std::string>& Current() const { return current_; }
    const std::string& Drive() const { return drive_; }

private:
    // Components after the syntax alone ("." and ".." applied); no disk access.
    std::optional<std::vector<std::string>> Parse(const std::string& windowsPath) const;

    std::string drive_;      // ROOT/drive_c as given
    std::string realDrive_;  // its real path, for mapping host paths back
    std::vector<std::string> current_;
};

// The entry of folder named name regardless of case; the exact spelling wins.
std::optional<std::string> FindEntry(const std::string& folder, const std::string& name);

// Windows file-name comparison: ASCII letters regardless of case.
bool SameName(const std::string& a, const std::string& b);

}  // namespace qlr::sandbox
