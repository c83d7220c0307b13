#include "ui/Controls.h"

#include <algorithm>
#include <utility>

#include "base/Text.h"

namespace qlr {

void TControl::Repaint() {
    if (pacer_)
        pacer_->Request(*this);
    else
        PaintNow();
}

RepaintPacer::RepaintPacer(Platform& platform, std::initializer_list<TControl*> controls)
    : platform_(platform), controls_(controls) {
    for (TControl* control : controls_) control->pacer_ = this;
}

RepaintPacer::~RepaintPacer() {
    for (TControl* control : controls_) control->pacer_ = nullptr;
    try {
        Round();
    } catch (...) {
        // Only a display; the next repaint shows the state.
    }
}

void RepaintPacer::Request(TControl& control) {
    if (std::find(owed_.begin(), owed_.end(), &control) == owed_.end()) owed_.push_back(&control);
    const std::uint64_t now = platform_.TickMs();
    if (lastRound_ && now - *lastRound_ < IntervalMs) return;
    lastRound_ = now;
    Round();
}

void RepaintPacer::Round() {
    for (TControl* control : controls_) control->Push();
    for (TControl* control : std::exchange(owed_, {})) control->PaintNow();
}

void TFileListBox::SetDirectory(const std::string& folder) {
    if (!platform_.SetCurrentFolder(folder)) throw RunError("Cannot change directory to " + folder);
    directory_ = platform_.CurrentFolder();
    Update();
}

void TFileListBox::Update() {
    items_ = platform_.ListFiles(Mask);
    std::stable_sort(items_.begin(), items_.end(),
                     [](const std::string& a, const std::string& b) { return CompareTextIgnoreCase(a, b) < 0; });
    if (peer_) peer_->SetItems(items_);
}

void TTimer::SetEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    if (enabled)
        platform_.StartTimer(Interval, [this] {
            if (enabled_ && OnTimer) OnTimer();
        });
    else
        platform_.StopTimer();
}

}  // namespace qlr
