// Plays an outside program. Every run appends one record to
// C:\standin-runs.txt: own path, command line and current folder, joined
// by " | ". Copied as the database server installer it also registers the
// server's default instance, as the real installer does.
//
// Switches (environment; "VALUE" applies to every copy, "NAME:VALUE" only
// to the copy whose file name is NAME, compared case-insensitively):
//   QLR_STANDIN_FAIL=1         exit 1 at once, recording nothing
//   QLR_STANDIN_EXIT=CODE      exit with CODE after recording
//   QLR_STANDIN_HANG=SECONDS   wait that long before exiting
//   QLR_STANDIN_NO_INSTALL=1   the installer registers nothing
//   QLR_STANDIN_SIZES=A;B      the record ends in " | A=<size>;B=<size>" for
//                              those files of its own folder (-1: none there)
//   QLR_STANDIN_HOLD=PATH      (every copy) holds PATH open, others may only
//                              read it, until it exits (with HANG: that long)

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>

#ifdef _WIN32
#include "platform/win32/Win32Platform.h"
#else
#include "platform/sandbox/SandboxPlatform.h"
#endif
#include "base/Text.h"

namespace {

constexpr const char* kInstallerName = "FIREBIRD-2.1.1.17910-0_WIN32.EXE";
constexpr const char* kInstancesKey = "Software\\Firebird Project\\Firebird Server\\Instances";

// The switch's value for this copy, or empty.
std::string Switch(const char* name, const std::string& ownName) {
    const char* raw = std::getenv(name);
    if (!raw) return std::string();
    std::string value = raw;
    auto colon = value.rfind(':');
    if (colon == std::string::npos) return value;
    if (qlr::UpperCase(value.substr(0, colon)) != qlr::UpperCase(ownName)) return std::string();
    return value.substr(colon + 1);
}

int Run(qlr::Platform& platform) {
    const std::string ownPath = platform.OwnPath();
    const std::string ownName = qlr::ExtractFileName(ownPath);
    if (!Switch("QLR_STANDIN_FAIL", ownName).empty()) return 1;

    std::unique_ptr<qlr::FileStream> held;
    // A path has a colon of its own: this switch is for every copy.
    if (const char* hold = std::getenv("QLR_STANDIN_HOLD"); hold && *hold) {
        held = platform.OpenAndHold(hold);
        if (!held) return 4;
    }
    std::string record = ownPath + " | " + platform.CommandLine() + " | " + platform.CurrentFolder();
    if (const std::string sizes = Switch("QLR_STANDIN_SIZES", ownName); !sizes.empty()) {
        const std::string folder = ownPath.substr(0, ownPath.find_last_of('\\') + 1);
        std::string field;
        for (std::size_t start = 0; start <= sizes.size();) {
            const std::size_t end = std::min(sizes.find(';', start), sizes.size());
            const std::string name = sizes.substr(start, end - start);
            start = end + 1;
            if (name.empty()) continue;
            auto file = platform.OpenForRead(folder + name);
            field += (field.empty() ? "" : ";") + name + "=" + std::to_string(file ? file->Size() : -1);
        }
        record += " | " + field;
    }
    platform.AppendToFile("C:\\standin-runs.txt", record + "\r\n");

    if (qlr::UpperCase(ownName) == kInstallerName && Switch("QLR_STANDIN_NO_INSTALL", ownName).empty()) {
        if (auto key = platform.OpenRegistryKey(qlr::RegistryRoot::LocalMachine, kInstancesKey, true))
            key->WriteString("DefaultInstance", "C:\\Program Files\\Firebird\\Firebird_2_1\\");
    }
    const std::string hang = Switch("QLR_STANDIN_HANG", ownName);
    if (!hang.empty()) platform.Sleep(static_cast<unsigned>(std::atoi(hang.c_str())) * 1000u);
    const std::string code = Switch("QLR_STANDIN_EXIT", ownName);
    return code.empty() ? 0 : std::atoi(code.c_str());
}

}  // namespace

int main() {
#ifdef _WIN32
    auto platform = qlr::win32::CreateWin32Platform();
#else
    // The sandbox root comes from QLR_SANDBOX_ROOT, which the sandbox sets for every program it starts.
    const char* root = std::getenv("QLR_SANDBOX_ROOT");
    if (!root) return 2;
    auto platform = qlr::sandbox::CreateSandboxPlatform({root, false});
#endif
    return Run(*platform);
}
