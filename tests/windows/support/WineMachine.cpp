#include "windows/support/WineMachine.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <stdexcept>

namespace qlr::testing {

namespace {

using win32::UniqueFind;
using win32::UniqueHandle;

constexpr const char* kResetTrees[] = {
    "C:\\TSLData",          "C:\\Temp",        "C:\\SchoolData",        "C:\\Program Files\\Tessaly",
    "C:\\standin-runs.txt", "C:\\Program.exe", "C:\\windows\\evil.pak",
};
constexpr const char* kSuiteLinks[] = {"Tovanel.lnk", "Quenmoral.lnk", "Pexil.lnk", ".lnk"};
constexpr const char* kShellFolders = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

std::string Parent(const std::string& path) {
    const auto slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::vector<std::string> Split(const std::string& text, const std::string& separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const auto at = text.find(separator, start);
        if (at == std::string::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, at - start));
        start = at + separator.size();
    }
}

}  // namespace

void PrintTo(const StandinRun& run, std::ostream* out) {
    *out << "{" << run.program << " | " << run.commandLine << " | " << run.folder << "}";
}

// ---- environment -----------------------------------------------------------

ScopedEnvironment::ScopedEnvironment(const char* name, const char* value) : name_(name) {
    char buffer[32768];
    const DWORD length = ::GetEnvironmentVariableA(name, buffer, sizeof buffer);
    if (length > 0 && length < sizeof buffer) old_ = std::string(buffer, length);
    ::SetEnvironmentVariableA(name, value);
}

ScopedEnvironment::~ScopedEnvironment() { ::SetEnvironmentVariableA(name_.c_str(), old_ ? old_->c_str() : nullptr); }

// ---- files -----------------------------------------------------------------

void MakeFolders(const std::string& path) {
    for (std::size_t at = path.find('\\', 3);; at = path.find('\\', at + 1)) {
        ::CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
        if (at == std::string::npos) break;
    }
}

void RemoveTree(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ::DeleteFileA(path.c_str());
        return;
    }
    WIN32_FIND_DATAA found{};
    UniqueFind search(::FindFirstFileA((path + "\\*").c_str(), &found));
    if (search) {
        do {
            const std::string name = found.cFileName;
            if (name != "." && name != "..") RemoveTree(path + "\\" + name);
        } while (::FindNextFileA(search.get(), &found));
    }
    search.reset();
    ::RemoveDirectoryA(path.c_str());
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    MakeFolders(Parent(path));
    UniqueHandle file(
        ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file) << "cannot create " << path;
    DWORD done = 0;
    ASSERT_TRUE(::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr));
    ASSERT_EQ(done, bytes.size());
}

std::optional<std::string> ReadBytes(const std::string& path) {
    UniqueHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::nullopt;
    std::string bytes;
    char buffer[4096];
    DWORD done = 0;
    while (::ReadFile(file.get(), buffer, sizeof buffer, &done, nullptr) && done > 0) bytes.append(buffer, done);
    return bytes;
}

bool PathExists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string UserName() {
    char buffer[257] = {};
    DWORD size = sizeof buffer;
    return ::GetUserNameA(buffer, &size) ? std::string(buffer) : std::string();
}

bool RunningUnderWine() {
    HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// The program keeps its machine-wide keys in the 32-bit view, as the shipped
// 32-bit build does on 64-bit Windows; a 64-bit test build sees the other
// view unless it asks.
std::string RegistryText(HKEY root, const std::string& key, const std::string& value) {
    char buffer[1024] = {};
    DWORD size = sizeof buffer - 1;
    const DWORD view = root == HKEY_LOCAL_MACHINE ? RRF_SUBKEY_WOW6432KEY : 0;
    if (::RegGetValueA(root, key.c_str(), value.c_str(), RRF_RT_REG_SZ | view, nullptr, buffer, &size) != ERROR_SUCCESS)
        return std::string();
    return buffer;
}

void RemoveMachineKey(const std::string& path) {
    const auto split = path.rfind('\\');
    win32::UniqueKey parent;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.substr(0, split).c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                        parent.put()) == ERROR_SUCCESS)
        ::RegDeleteTreeA(parent.get(), path.substr(split + 1).c_str());
}

std::vector<std::string> CrLfLines(const std::string& text) {
    auto lines = Split(text, "\r\n");
    if (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
}

std::string SignedPackage(std::string package, const std::string& name, const RawP256Key& key) {
    auto putInt32 = [](std::string& out, std::size_t value) {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    };
    package += "QLRSIG01";
    putInt32(package, name.size());
    package += name;

    win32::UniqueCngAlgorithm sha, ecdsa;
    win32::UniqueCngHash hash;
    win32::UniqueCngKey privateKey;
    UCHAR digest[32] = {}, signature[64] = {};
    UCHAR blob[sizeof(BCRYPT_ECCKEY_BLOB) + 96];
    const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PRIVATE_P256_MAGIC, 32};
    std::memcpy(blob, &header, sizeof header);
    std::memcpy(blob + sizeof header, key.xy, 64);
    std::memcpy(blob + sizeof header + 64, key.d, 32);
    ULONG length = 0;
    const bool signedOk = ::BCryptOpenAlgorithmProvider(sha.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0) == 0 &&
                          ::BCryptCreateHash(sha.get(), hash.put(), nullptr, 0, nullptr, 0, 0) == 0 &&
                          ::BCryptHashData(hash.get(), reinterpret_cast<PUCHAR>(package.data()),
                                           static_cast<ULONG>(package.size()), 0) == 0 &&
                          ::BCryptFinishHash(hash.get(), digest, sizeof digest, 0) == 0 &&
                          ::BCryptOpenAlgorithmProvider(ecdsa.put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) == 0 &&
                          ::BCryptImportKeyPair(ecdsa.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, privateKey.put(), blob,
                                                sizeof blob, 0) == 0 &&
                          ::BCryptSignHash(privateKey.get(), nullptr, digest, sizeof digest, signature,
                                           sizeof signature, &length, 0) == 0 &&
                          length == sizeof signature;
    if (!signedOk) throw std::runtime_error("cannot sign a test package with CNG");
    package.append(reinterpret_cast<const char*>(signature), sizeof signature);
    putInt32(package, 8 + 4 + name.size() + 64 + 4 + 8);
    return package + "QLRSIG01";
}

// ---- the machine -----------------------------------------------------------

void WineMachine::SetUp() {
    // A folder that is some process's current folder cannot be removed.
    ::SetCurrentDirectoryA(BuildFolder().c_str());
    ResetMachine();
    // Wine starts its desktop process for the first program that uses the
    // desktop; that must be this one, or the desktop would start in the job.
    ::GetDesktopWindow();
    job_.reset(::CreateJobObjectA(nullptr, nullptr));
    ASSERT_TRUE(job_) << "no job object";
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    ::SetInformationJobObject(job_.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
}

void WineMachine::TearDown() {
    // Nothing of one case may run on into the next.
    if (!WaitForAllEnded(5000)) {
        ::TerminateJobObject(job_.get(), 1);
        WaitForAllEnded(5000);
    }
    job_.reset();
    ::SetCurrentDirectoryA(BuildFolder().c_str());
}

void WineMachine::ResetMachine() {
    for (const char* tree : kResetTrees) RemoveTree(tree);
    for (const char* folderValue : {"Desktop", "Start Menu"}) {
        const std::string folder = RegistryText(HKEY_CURRENT_USER, kShellFolders, folderValue);
        if (folder.empty()) continue;
        for (const char* link : kSuiteLinks) RemoveTree(folder + "\\" + link);
    }
    char temp[MAX_PATH + 1] = {};
    if (::GetTempPathA(sizeof temp, temp)) RemoveTree(std::string(temp) + "Tovanel failure.txt");
    RemoveMachineKey("Software\\Firebird Project");
}

std::string WineMachine::BuildFolder() {
    char path[MAX_PATH + 1] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    return Parent(path);
}

void WineMachine::PlaceTovanel(const std::string& path, const std::string& program) {
    MakeFolders(Parent(path));
    ASSERT_TRUE(::CopyFileA((BuildFolder() + "\\" + program).c_str(), path.c_str(), FALSE)) << path;
}

void WineMachine::PlaceStandin(const std::string& path) {
    MakeFolders(Parent(path));
    ASSERT_TRUE(::CopyFileA((BuildFolder() + "\\standin.exe").c_str(), path.c_str(), FALSE)) << path;
}

std::optional<DWORD> WineMachine::RunProgram(const std::string& path, const std::string& arguments,
                                             const std::string& currentFolder, DWORD timeoutMs) {
    std::string commandLine = "\"" + path + "\"" + (arguments.empty() ? "" : " " + arguments);
    const std::string folder = currentFolder.empty() ? Parent(path) : currentFolder;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION created{};
    if (!::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                          folder.c_str(), &startup, &created))
        return std::nullopt;
    UniqueHandle process(created.hProcess), thread(created.hThread);
    // In the job before it runs, so everything it starts is in the job too.
    ::AssignProcessToJobObject(job_.get(), process.get());
    ::ResumeThread(thread.get());
    if (::WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    ::GetExitCodeProcess(process.get(), &code);
    return code;
}

std::vector<StandinRun> WineMachine::Runs() {
    std::vector<StandinRun> runs;
    for (const std::string& line : CrLfLines(ReadBytes(kRunsFile).value_or(""))) {
        auto parts = Split(line, " | ");
        parts.resize(3);
        runs.push_back({parts[0], parts[1], parts[2]});
    }
    return runs;
}

std::vector<StandinRun> WineMachine::WaitForRuns(std::size_t count, DWORD timeoutMs) {
    const ULONGLONG end = ::GetTickCount64() + timeoutMs;
    for (;;) {
        auto runs = Runs();
        if (runs.size() >= count || ::GetTickCount64() >= end) return runs;
        ::Sleep(50);
    }
}

bool WineMachine::WaitForAllEnded(DWORD timeoutMs) {
    const ULONGLONG end = ::GetTickCount64() + timeoutMs;
    for (;;) {
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
        if (!::QueryInformationJobObject(job_.get(), JobObjectBasicAccountingInformation, &accounting,
                                         sizeof accounting, nullptr))
            return false;
        if (accounting.ActiveProcesses == 0) return true;
        if (::GetTickCount64() >= end) return false;
        ::Sleep(50);
    }
}

}  // namespace qlr::testing
