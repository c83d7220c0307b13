// The command line of the Linux build: choose the sandbox root, make a fresh
// machine, or run the program on one.

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "platform/sandbox/SandboxPlatform.h"

namespace qlr::sandbox {

namespace {

constexpr const char* kHelp =
    R"(Usage: tovanel [--root DIR] [--verbose]
       tovanel --root DIR --init USER
       tovanel --help

Runs Tovanel, the installer, updater and launcher of the Quillory suite, on
a sandbox: a folder that plays a Windows machine, laid out like a Wine
prefix. DIR/drive_c is drive C:, so C:\TSLData\QLR is DIR/drive_c/TSLData/QLR.
Path names match existing files and folders regardless of case, as on
Windows; other drives and network paths do not exist.

Options:
  --root DIR    the sandbox root (default: $QLR_SANDBOX_ROOT)
  --init USER   make a fresh machine under DIR whose Windows user is USER:
                C:\windows\system32, C:\Program Files, the user's Desktop,
                Start Menu and Start Menu\Programs under C:\users\USER, and
                the "Shell Folders" registry values that name them. Existing
                folders and values are kept. Prints what it made.
  --verbose     print the run log as it is written even when standard
                output is not a terminal (on a terminal it always is, with a
                progress bar in place of the progress window)
  --help        this text

The role comes from the program's own path, as on Windows. A copy placed in
DIR/drive_c and started from there sees itself as C:\...:
  C:\TSLData\QLR\Tovanel.exe                     Startup
  C:\Program Files\Tessaly\Quillory\Tovanel.exe  Bootstrap (hands over)
  any path containing SETUP                      Setup
Started from outside drive_c it sees itself on drive Z: (Z:\home\...), as
under Wine, and runs the full pass logged as Bootstrap.

Programs it starts are resolved as CreateProcessA does (unquoted paths with
blanks, ".exe" added, a bare name searched in the program's folder, the
current folder, C:\windows\system32 and C:\windows). Only native
executables start; they run in the sandbox's current folder with
QLR_SANDBOX_ROOT and QLR_SANDBOX_CMDLINE (the exact command line) set.
Arguments given to a program started that way are ignored, as on Windows.

Files in DIR:
  registry.txt         the registry: [HKCU\key], [HKLM\key] and [HKLM32\key]
                       (the 32-bit view of HKLM\Software) with lines
                       "name"=sz:text, "name"=dword:00000001, @=sz:default
  sandbox-denied.txt   locks and missing rights, one a line:
                         file C:\path     cannot be opened, written, removed
                         folder C:\path   cannot be made or removed; nothing
                                          in it can be made or removed
                         key HKLM\path    cannot be opened (HKCU likewise)
  sandbox-user.txt     the Windows user name (set by --init)
  trusted-roots.pem    root certificates (PEM) this machine trusts for HTTPS
                       beside the host's own, as a Windows root store would
  failure-report.txt   failures a person must see when the run log itself
                       cannot be saved; they are written to standard error too
  run.lock             locked by the run that installs and updates; another
                       run waits up to 10 minutes for it, then skips that work

Environment:
  QLR_SANDBOX_ROOT     the sandbox root when --root is not given
  QLR_SANDBOX_FAST=1   timers and sleeps take 1 ms (for tests)
  QLR_UPDATE_BASE_URL  the update server's base address, ending in /
  QLR_HTTP_TIME_LIMIT  seconds (1 to 3600, default 60) within which a server
                       must answer and each download must receive 1 KiB

Exit status: 0 when the run or the set-up ended; 1 when it failed; 2 for
bad arguments or no sandbox root.
)";

int UsageError(const std::string& message) {
    std::cerr << "tovanel: " << message << "\nTry 'tovanel --help'.\n";
    return 2;
}

bool ValidUserName(const std::string& name) {
    if (name.empty() || name.size() > 252 || name == "." || name == "..") return false;
    for (unsigned char c : name)
        if (c < 0x20 || std::strchr("\\/:*?\"<>|", c)) return false;
    return true;
}

}  // namespace

std::vector<std::string> InitMachine(const std::string& root, const std::string& userName) {
    std::vector<std::string> made;
    std::filesystem::create_directories(std::filesystem::path(root) / "drive_c");
    auto platform = CreateSandboxPlatform({root, false});
    const std::string user = "C:\\users\\" + userName;
    for (const std::string& folder :
         {std::string("C:\\windows"), std::string("C:\\windows\\system32"), std::string("C:\\Program Files"),
          std::string("C:\\users"), user, user + "\\Desktop", user + "\\Start Menu", user + "\\Start Menu\\Programs"}) {
        if (platform->FolderExists(folder)) continue;
        if (!platform->MakeFolder(folder)) throw std::runtime_error("cannot make " + folder);
        made.push_back("made " + folder);
    }

    const std::string userFile = root + "/sandbox-user.txt";
    std::ofstream(userFile, std::ios::binary) << userName << "\n";
    if (platform->UserName(UINT32_MAX) != userName) throw std::runtime_error("cannot write " + userFile);
    made.push_back("user " + userName);

    const std::string shellFolders = "Software\\MicroSoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    auto key = platform->OpenRegistryKey(RegistryRoot::CurrentUser, shellFolders, true);
    if (!key) throw std::runtime_error("cannot open HKCU\\" + shellFolders);
    const std::pair<const char*, std::string> values[] = {
        {"Desktop", user + "\\Desktop"},
        {"Start Menu", user + "\\Start Menu"},
        {"Programs", user + "\\Start Menu\\Programs"},
    };
    for (const auto& [name, value] : values) {
        if (key->ReadValue(name).kind != RegistryValue::Kind::Missing) continue;
        if (!key->WriteString(name, value)) throw std::runtime_error("cannot write the registry under " + root);
        made.push_back("set HKCU\\" + shellFolders + " \"" + name + "\" = " + value);
    }
    return made;
}

int SandboxMain(int argc, char** argv, int (*run)(Platform&)) {
    SandboxOptions options;
    std::string initUser;
    bool init = false;
    // A copy started by the sandbox gets Windows arguments, which Tovanel ignores.
    const bool startedBySandbox = std::getenv("QLR_SANDBOX_CMDLINE") != nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::cout << kHelp;
            return 0;
        } else if (argument == "--verbose") {
            options.verbose = true;
        } else if (argument == "--root" || argument == "--init") {
            if (i + 1 >= argc) return UsageError(argument + " needs a value");
            (argument == "--root" ? options.root : initUser) = argv[++i];
            init = init || argument == "--init";
        } else if (argument.rfind("--root=", 0) == 0) {
            options.root = argument.substr(7);
        } else if (argument.rfind("--init=", 0) == 0) {
            initUser = argument.substr(7);
            init = true;
        } else if (!startedBySandbox) {
            return UsageError("unknown argument '" + argument + "'");
        }
    }
    if (options.root.empty())
        if (const char* root = std::getenv("QLR_SANDBOX_ROOT")) options.root = root;
    if (options.root.empty()) return UsageError("no sandbox root: give --root DIR or set QLR_SANDBOX_ROOT");

    try {
        if (init) {
            if (!ValidUserName(initUser)) return UsageError("'" + initUser + "' is not a valid user name");
            for (const auto& line : InitMachine(options.root, initUser)) std::cout << line << "\n";
            std::cout << "Sandbox machine ready at " << options.root << "\n";
            return 0;
        }
        struct stat info;
        if (stat((options.root + "/drive_c").c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
            std::cerr << "tovanel: " << options.root << " is not a sandbox (no drive_c); make one with --init USER\n";
            return 2;
        }
        auto platform = CreateSandboxPlatform(options);
        return run(*platform);
    } catch (const std::exception& error) {
        std::cerr << "tovanel: " << error.what() << "\n";
        return 1;
    }
}

}  // namespace qlr::sandbox
