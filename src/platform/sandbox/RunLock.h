#pragma once
// One run at a time on a sandbox machine: a lock on ROOT/run.lock, which
// the system drops when its holder ends, however it ends.

#include <memory>
#include <string>

#include "platform/Platform.h"
#include "platform/sandbox/MessageLoop.h"

namespace qlr::sandbox {

// Waits up to waitMs of real time (fast mode or not), running the loop's messages.
std::unique_ptr<MachineLock> LockRuns(const std::string& root, MessageLoop& loop, unsigned waitMs);

}  // namespace qlr::sandbox
