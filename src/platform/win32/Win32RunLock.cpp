#include "platform/win32/Win32RunLock.h"

#include <windows.h>

#include <sddl.h>

#include "platform/win32/Handles.h"
#include "platform/win32/Win32Gui.h"

namespace qlr::win32 {

namespace {

// Global: runs in every session of the machine share C:\TSLData and C:\Temp.
constexpr const char* kMutexName = "Global\\Quillory Tovanel run";
// Every user may wait for the lock and release it once held, and nothing more.
constexpr const char* kMutexAccess = "D:(A;;0x00100001;;;WD)";
constexpr DWORD kRights = SYNCHRONIZE | MUTEX_MODIFY_STATE;
static_assert(kRights == 0x00100001);

class HeldMutex : public MachineLock {
public:
    explicit HeldMutex(UniqueHandle mutex) : mutex_(std::move(mutex)) {}
    ~HeldMutex() override { ::ReleaseMutex(mutex_.get()); }

private:
    UniqueHandle mutex_;
};

// A machine where the lock cannot be made still runs.
class NoLock : public MachineLock {};

UniqueHandle OpenRunMutex() {
    UniqueLocalMemory descriptor;
    PSECURITY_DESCRIPTOR made = nullptr;
    if (::ConvertStringSecurityDescriptorToSecurityDescriptorA(kMutexAccess, SDDL_REVISION_1, &made, nullptr))
        descriptor.reset(made);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
    return UniqueHandle(::CreateMutexExA(&attributes, kMutexName, 0, kRights));
}

}  // namespace

std::unique_ptr<MachineLock> LockRuns(MessagePump& pump, unsigned waitMs) {
    UniqueHandle mutex = OpenRunMutex();
    if (!mutex) return std::make_unique<NoLock>();
    const ULONGLONG end = ::GetTickCount64() + waitMs;
    for (;;) {
        const ULONGLONG now = ::GetTickCount64();
        const DWORD left = now >= end ? 0 : static_cast<DWORD>(end - now);
        HANDLE handle = mutex.get();
        const DWORD state = ::MsgWaitForMultipleObjects(1, &handle, FALSE, left, QS_ALLINPUT);
        // Abandoned: the holder ended without releasing it, and the lock is ours now.
        if (state == WAIT_OBJECT_0 || state == WAIT_ABANDONED_0) return std::make_unique<HeldMutex>(std::move(mutex));
        if (state == WAIT_TIMEOUT) return nullptr;
        if (state != WAIT_OBJECT_0 + 1) return std::make_unique<NoLock>();
        pump.ProcessQueued();
        if (pump.Terminated()) return nullptr;
    }
}

}  // namespace qlr::win32
