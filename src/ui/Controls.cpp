#include "ui/Controls.h"

#include <algorithm>

#include "base/Text.h"

namespace qlr {

void TFileListBox::SetDirectory(const std::string& folder) {
    if (!platform_.SetCurrentFolder(folder)) throw RunError("Cannot change directory to " + folder);
    directory_ = platform_.CurrentFolder();
    Update();
}

void TFileListBox::Update() {
    items_ = platform_.ListFiles(Mask);
    std::stable_sort(items_.begin(), items_.end(), [](const std::string& a, const std::string& b) {
        return CompareTextIgnoreCase(a, b) < 0;
    });
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
