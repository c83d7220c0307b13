#include "platform/win32/Win32Process.h"

#include <windows.h>

#include <vector>

#include "platform/win32/Handles.h"

namespace qlr::win32 {

namespace {

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(STARTUPINFOA) == 68, "the started program expects the 32-bit record");
#endif

class Win32Process : public Process {
public:
    Win32Process(UniqueHandle process, UniqueHandle thread)
        : process_(std::move(process)), thread_(std::move(thread)) {}

    std::uint32_t ExitCode() override {
        DWORD code = STILL_ACTIVE;
        ::GetExitCodeProcess(process_.get(), &code);
        return code;
    }

    bool HasEnded() override {
        // A handle that cannot be waited on can never report an end: do not wait for it forever.
        const DWORD state = ::WaitForSingleObject(process_.get(), 0);
        return state == WAIT_OBJECT_0 || state == WAIT_FAILED;
    }

private:
    UniqueHandle process_;
    UniqueHandle thread_;
};

}  // namespace

std::unique_ptr<Process> StartCommandLine(const std::string& commandLine, const std::string& program) {
    // CreateProcessA may write into the command line it is given.
    std::vector<char> writable(commandLine.begin(), commandLine.end());
    writable.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION created{};
    if (!::CreateProcessA(program.empty() ? nullptr : program.c_str(), writable.data(), nullptr, nullptr, FALSE,
                          CREATE_NEW_PROCESS_GROUP | NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup, &created))
        return nullptr;
    return std::make_unique<Win32Process>(UniqueHandle(created.hProcess), UniqueHandle(created.hThread));
}

}  // namespace qlr::win32
