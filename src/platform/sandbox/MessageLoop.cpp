#include "platform/sandbox/MessageLoop.h"

#include <thread>

namespace qlr::sandbox {

void MessageLoop::StartTimer(unsigned intervalMs, std::function<void()> onTick) {
    interval_ = std::chrono::milliseconds(fast_ ? 1u : intervalMs);
    due_ = Clock::now() + interval_;
    onTick_ = std::move(onTick);
    active_ = true;
}

void MessageLoop::Run() {
    while (!terminated_ && active_) {
        std::this_thread::sleep_until(due_);
        FireIfDue();
    }
}

void MessageLoop::ProcessMessages() { FireIfDue(); }

void MessageLoop::Sleep(unsigned ms) const { std::this_thread::sleep_for(std::chrono::milliseconds(fast_ ? 1u : ms)); }

void MessageLoop::FireIfDue() {
    // A tick that is still running (its handler pumping messages) is not
    // started a second time, as with a Windows timer message.
    if (!active_ || firing_ || Clock::now() < due_) return;
    due_ = Clock::now() + interval_;
    auto handler = onTick_;  // the handler may replace the timer while it runs
    firing_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{firing_};
    handler();
}

}  // namespace qlr::sandbox
