#pragma once
// The run log a setup copy saves on a fresh machine, after its version
// line, when the server offers the foundation and QLR6-39: the same on
// both platforms.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace qlr::testing {

struct FreshInstall {
    std::string setupCopy, baseUrl, user, desktopFolder, startMenuFolder;
    std::int64_t foundationBytes = 0, listBytes = 0, updateBytes = 0;
};

// The gauge after a step of part of whole, from start, held within 100.
inline int GaugeAfter(std::int64_t start, std::int64_t part, std::int64_t whole) {
    return static_cast<int>(std::min<std::int64_t>(100, start + part * 100 / whole));
}

inline std::vector<std::string> FreshInstallLog(const FreshInstall& run) {
    // Every download and unpack after the foundation's is measured against its 20000000 bytes and 250 files.
    const int g1 = GaugeAfter(0, run.foundationBytes, 20000000);
    const int g2 = GaugeAfter(g1, 5, 250);
    const int g3 = GaugeAfter(g2, run.listBytes, 20000000);
    const int g4 = GaugeAfter(g3, run.updateBytes, 20000000);
    const std::string desktopLink = run.desktopFolder + "\\Tovanel.lnk";
    const std::string startLink = run.startMenuFolder + "\\Tovanel.lnk";
    return {
        "Deleteing 6-36 files",
        "Extracting this application name",
        "Checking if this is secondary startup",
        "Going to part 2",
        "Making TSLData Directories",
        "Directories exist",
        "This app name is: " + run.setupCopy + " 11",
        "------------- Start Pt 2 --------------",
        "Loading Foundation....",
        "Installing Foundation",
        "Removing Temporary Directories, Temp\\QLR",
        "... OK",
        "Creating Program Directories... OK",
        "SchoolData Exists ... OK",
        "Downloading Foundation File to C:\\Temp\\QLR\\Foundation.pak",
        "Gauge = 0",
        "Program Loaded, decompressing file",
        "Gauge = " + std::to_string(g1),
        "Decoding 5 files",
        "File 1: C:\\TSLData\\QLR\\Tovanel.exe",
        "File 2: C:\\Program Files\\Tessaly\\Quillory\\Tovanel.exe",
        "File 3: C:\\TSLData\\QLR\\Shifter.exe",
        "File 4: c:\\temp\\QLR\\Firebird\\Firebird-2.1.1.17910-0_Win32.exe",
        "File 5: C:\\temp\\QLR\\SchoolData\\mydata.ib... OK",
        "Installing Firebird...OK",
        "Pt 1",
        "SchoolData Exists ... OK",
        "Pt 2",
        "Loading blank database...OK",
        "   ... Foundation loaded OK",
        "Accessing cloud",
        "Gauge = " + std::to_string(g2),
        "Have:    Available from cloud: 6-39",
        "Downloading program " + run.baseUrl + "updates/QLR6-39.pak to C:\\Temp\\QLR\\QLR6-39.pak",
        "Gauge = " + std::to_string(g3),
        "Program Loaded, decompressing files",
        "Gauge = " + std::to_string(g4),
        "Decoding 1 files",
        "File 1: C:\\TSLData\\QLR\\QLR6-39.exe... OK",
        "Creating Shortcuts",
        "Created Shortcut for " + desktopLink,
        "Created Shortcut in Desktop",
        "Created Shortcut for " + startLink,
        "Created Shortcut in Start Menu",
        "Starting Program...",
        "TSL pdir = C:\\TSLData\\QLR",
        "pdir = C:\\TSLData\\QLR",
        "prog = QLR6-39.exe",
        "Found QLR6-39",
        "User Dir: c:\\TSLData\\" + run.user + "\\QLR\\Options.txt",
        "StartProg Prog: QLR6-39.exe",
        "StartProg Dir: C:\\TSLData\\QLR",
        "Adding parameter",
        "App Name = TOVANEL.EXE",
        "App is TN/QLR.   pdir = C:\\TSLData\\QLR  prog = C:\\TSLData\\QLR\\QLR6-39.exe QLR",
        "StartProg Starting: C:\\TSLData\\QLR\\QLR6-39.exe QLR",
        "----------------- End ----------------------",
        "",
    };
}

// The version line: the date and time follow the user's locale.
inline constexpr const char* kVersionLinePattern =
    R"(Updater Version 11, \d[\d./-]*\d( [\d:]+( [AP]M)?)? Tovanel\.exe)";

}  // namespace qlr::testing
