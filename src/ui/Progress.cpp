#include "ui/Progress.h"

#include <algorithm>

namespace qlr {

void TGauge::SetProgress(int value) {
    value = std::clamp(value, 0, 100);
    if (value == progress_) return;
    progress_ = value;
    if (peer_) peer_->SetText(std::to_string(progress_) + "%");
}

void TGauge::Repaint() {
    if (peer_) peer_->Repaint();
}

Tf_progress::Tf_progress(Platform& platform, NativeWindow* owner) : platform_(platform) { (void)owner; }

void Tf_progress::Show() { visible_ = true; }

void Tf_progress::Close() { visible_ = false; }

}  // namespace qlr
