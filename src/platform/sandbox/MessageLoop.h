#pragma once
// The headless message loop: one timer, a terminate request, and sleeps
// that QLR_SANDBOX_FAST=1 shortens to a millisecond.

#include <chrono>
#include <functional>

namespace qlr::sandbox {

class MessageLoop {
public:
    explicit MessageLoop(bool fast) : fast_(fast) {}

    void StartTimer(unsigned intervalMs, std::function<void()> onTick);
    void StopTimer() { active_ = false; }
    // Runs the timer until Terminate; returns at once when no timer is armed,
    // as nothing could ever end the loop then.
    void Run();
    void ProcessMessages();  // the timer, if due, then return
    void Terminate() { terminated_ = true; }
    bool Terminated() const { return terminated_; }
    void Sleep(unsigned ms) const;

private:
    using Clock = std::chrono::steady_clock;
    void FireIfDue();

    bool fast_;
    bool active_ = false;
    bool firing_ = false;
    bool terminated_ = false;
    std::chrono::milliseconds interval_{0};
    Clock::time_point due_;
    std::function<void()> onTick_;
};

}  // namespace qlr::sandbox
