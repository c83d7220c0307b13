#pragma once
// The Windows test harness. Tests run INSIDE Wine (scripts/wine-run.sh is
// CTest's emulator), on drive C: of the test prefix, as on a real machine.
//
// WineMachine, a fixture for whole runs:
//  - SetUp resets the machine: C:\TSLData (with the user's data folder),
//    C:\Temp, C:\SchoolData, C:\Program Files\Tessaly, C:\standin-runs.txt,
//    the files tests plant where they do not belong (C:\Program.exe, ...),
//    the suite's links on the desktop and in the Start menu, the database
//    server's registration and "%TEMP%\Tovanel failure.txt" are removed.
//  - PlaceTovanel / PlaceStandin copy Tovanel.exe / standin.exe (built
//    beside the test executable) to a path, making its folders.
//  - RunProgram starts a copy and waits for it. Every process it starts, and
//    every process those start, belongs to one job: WaitForAllEnded waits for
//    the whole tree, and TearDown ends what is left.
//  - WaitForRuns polls C:\standin-runs.txt until it has the given number of
//    records (standin appends one per start: own path | command line |
//    current folder).
//
// The update server: the Unix environment passes through Wine, so
// QLR_UPDATE_BASE_URL set for ctest reaches every program started here. A
// test may instead serve what it needs itself (TestHttpServer.h) and point
// the programs at it with ScopedEnvironment. Wine's WinInet honours
// http_proxy, so the fixture clears it for the loopback servers tests use.

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "keys/TestKeys.h"
#include "platform/win32/Handles.h"

namespace qlr::testing {

// One record of C:\standin-runs.txt.
struct StandinRun {
    std::string program, commandLine, folder;
    bool operator==(const StandinRun&) const = default;
    auto operator<=>(const StandinRun&) const = default;
};
void PrintTo(const StandinRun& run, std::ostream* out);

// Sets (or, with nullptr, removes) a variable of this process's environment,
// which the programs it starts inherit; puts the old value back at the end.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const char* value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// File helpers, plain Win32, independent of the code under test.
void MakeFolders(const std::string& path);                           // every level
void RemoveTree(const std::string& path);                            // a file or a whole folder
void WriteBytes(const std::string& path, const std::string& bytes);  // makes the folders
std::optional<std::string> ReadBytes(const std::string& path);
bool PathExists(const std::string& path);
std::string UserName();
// Wine quotes an unquoted program path with blanks in the command line the
// started program sees; Windows passes it on as given.
bool RunningUnderWine();
// A string value of the registry (32-bit view), or empty.
std::string RegistryText(HKEY root, const std::string& key, const std::string& value);
// Deletes a key of HKEY_LOCAL_MACHINE and everything below it, in the 32-bit view.
void RemoveMachineKey(const std::string& path);
// Lines of a CR LF text; a lone CR or LF stays inside its line.
std::vector<std::string> CrLfLines(const std::string& text);
// The package followed by a signature trailer for name, signed here with the
// system's CNG: "QLRSIG01", int32 N, name, r||s over everything before it,
// int32 trailer size, "QLRSIG01".
std::string SignedPackage(std::string package, const std::string& name, const RawP256Key& key = kTestReleaseKey);

class WineMachine : public ::testing::Test {
public:
    static constexpr const char* kProgramFolder = "C:\\Program Files\\Tessaly\\Quillory";
    static constexpr const char* kDataFolder = "C:\\TSLData\\QLR";
    static constexpr const char* kRunsFile = "C:\\standin-runs.txt";

protected:
    void SetUp() override;
    void TearDown() override;

    static void ResetMachine();
    // The folder of the test executable, where Tovanel.exe and standin.exe are built.
    static std::string BuildFolder();
    // program: "Tovanel.exe", or "Tovanel-testkey.exe", the build that holds the test release key.
    static void PlaceTovanel(const std::string& path, const std::string& program = "Tovanel.exe");
    static void PlaceStandin(const std::string& path);

    // Starts path (quoted) with arguments in currentFolder (default: the
    // program's folder) and waits for it; its exit code, or nullopt when it
    // did not start or end in time.
    std::optional<DWORD> RunProgram(const std::string& path, const std::string& arguments = "",
                                    const std::string& currentFolder = "", DWORD timeoutMs = 60000);
    // The records once there are at least count of them, or what is there at the timeout.
    static std::vector<StandinRun> WaitForRuns(std::size_t count, DWORD timeoutMs = 30000);
    static std::vector<StandinRun> Runs();
    // True when every process of the job has ended within the time.
    bool WaitForAllEnded(DWORD timeoutMs = 30000);

private:
    ScopedEnvironment noProxy_{"http_proxy", nullptr};
    win32::UniqueHandle job_;
};

}  // namespace qlr::testing
