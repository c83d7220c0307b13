#pragma once
// The small borderless progress window the user sees during a run.

#include <memory>
#include <string>

#include "platform/Platform.h"

namespace qlr {

// Percentage bar: range 0 to 100, redrawn only when the shown value changes.
class TGauge {
public:
    int Progress() const { return progress_; }
    void SetProgress(int value);
    void Repaint();
    void AttachPeer(std::unique_ptr<NativeControl> peer) { peer_ = std::move(peer); }

private:
    int progress_ = 0;
    std::unique_ptr<NativeControl> peer_;
};

class Tf_progress {
public:
    Tf_progress(Platform& platform, NativeWindow* owner);
    TGauge Gauge1;
    void Show();
    void Close();  // hides; the window stays
    bool Visible() const { return visible_; }

private:
    Platform& platform_;
    bool visible_ = false;
};

}  // namespace qlr
