#pragma once
// One run at a time on the machine: a named mutex that every user's run
// can wait for.

#include <memory>

#include "platform/Platform.h"

namespace qlr::win32 {

class MessagePump;

// Waits up to waitMs for the lock, handling the GUI's messages meanwhile.
std::unique_ptr<MachineLock> LockRuns(MessagePump& pump, unsigned waitMs);

}  // namespace qlr::win32
