#include "platform/sandbox/RunLock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/sandbox/UniqueFd.h"

namespace qlr::sandbox {

namespace {

constexpr auto kPoll = std::chrono::milliseconds(20);

class HeldLock : public MachineLock {
public:
    explicit HeldLock(UniqueFd fd) : fd_(std::move(fd)) {}  // closing the file drops the lock

private:
    UniqueFd fd_;
};

// A machine where the lock cannot be made still runs.
class NoLock : public MachineLock {};

}  // namespace

std::unique_ptr<MachineLock> LockRuns(const std::string& root, MessageLoop& loop, unsigned waitMs) {
    // Not inherited: a program the run starts must not hold the lock after the run.
    UniqueFd fd(::open((root + "/run.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    if (!fd) return std::make_unique<NoLock>();
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) return std::make_unique<HeldLock>(std::move(fd));
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK) return std::make_unique<NoLock>();
        if (std::chrono::steady_clock::now() >= end) return nullptr;
        std::this_thread::sleep_for(kPoll);
        loop.ProcessMessages();
        if (loop.Terminated()) return nullptr;
    }
}

}  // namespace qlr::sandbox
