#pragma once
// Controls keep their state in C++ and push it to a native peer when the
// platform gave them one (Windows); headless they are plain state.

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace qlr {

class RepaintPacer;

class TControl {
public:
    TControl(std::string name, Bounds bounds) : Name(std::move(name)), bounds_(bounds) {}
    virtual ~TControl() = default;
    TControl(const TControl&) = delete;
    TControl& operator=(const TControl&) = delete;

    const std::string Name;
    const Bounds& GetBounds() const { return bounds_; }
    // The peer is made showing the control's state as it is now.
    void AttachPeer(std::unique_ptr<NativeControl> peer) {
        peer_ = std::move(peer);
        stale_ = false;
    }
    NativeControl* Peer() const { return peer_.get(); }
    // Paints at once, or at its pacer's next round while one holds the control.
    void Repaint();

protected:
    friend class RepaintPacer;
    // Hands the peer what it does not show yet.
    virtual void Push() {}
    void PaintNow() {
        if (peer_) peer_->Repaint();
    }

    Bounds bounds_;
    std::unique_ptr<NativeControl> peer_;
    bool stale_ = false;  // the peer shows an older state
    RepaintPacer* pacer_ = nullptr;
};

// Holds back the synchronous repaints of a busy loop (a download, an unpack):
// while it lives, the controls it was given reach their native windows at
// most once per interval, and in their final state when it ends. The
// controls themselves always hold their newest state.
class RepaintPacer {
public:
    static constexpr std::uint64_t IntervalMs = 34;  // about 30 rounds a second at most

    RepaintPacer(Platform& platform, std::initializer_list<TControl*> controls);
    ~RepaintPacer();
    RepaintPacer(const RepaintPacer&) = delete;
    RepaintPacer& operator=(const RepaintPacer&) = delete;

    void Request(TControl& control);

private:
    void Round();

    Platform& platform_;
    std::vector<TControl*> controls_;
    std::vector<TControl*> owed_;  // asked for a paint since the last round
    std::optional<std::uint64_t> lastRound_;
};

class TLabel : public TControl {
public:
    TLabel(std::string name, Bounds bounds, std::string caption)
        : TControl(std::move(name), bounds), Caption(std::move(caption)) {}
    const std::string Caption;
};

// One-line edit and multi-line box share the same text model.
class TEdit : public TControl {
public:
    TEdit(std::string name, Bounds bounds, std::string text)
        : TControl(std::move(name), bounds), text_(std::move(text)) {}
    const std::string& Text() const { return text_; }
    // The native window hears only of a change, and while paced only at a round.
    void SetText(std::string text) {
        if (text != text_) {
            text_ = std::move(text);
            stale_ = true;
        }
        if (!pacer_) Push();
    }
    void Clear() { SetText(std::string()); }

protected:
    void Push() override {
        if (peer_ && stale_) peer_->SetText(text_);
        stale_ = false;
    }
    std::string text_;
};

class TMemo : public TEdit {
public:
    using TEdit::TEdit;
    // The box shows its text up to the first zero byte.
    void SetText(std::string text) {
        auto nul = text.find('\0');
        if (nul != std::string::npos) text.resize(nul);
        TEdit::SetText(std::move(text));
    }
    void Clear() { SetText(std::string()); }
    // Appends one line: a CR LF goes before it unless the text is empty.
    void AddLine(const std::string& line) { SetText(text_.empty() ? line : text_ + "\r\n" + line); }
};

// File list box: lists one folder by mask, sorted case-insensitively.
// Choosing a folder makes it the process's current folder.
class TFileListBox : public TControl {
public:
    TFileListBox(std::string name, Bounds bounds, Platform& platform)
        : TControl(std::move(name), bounds), platform_(platform) {}
    std::string Mask = "QLR*.exe";
    const std::string& Directory() const { return directory_; }
    const std::vector<std::string>& Items() const { return items_; }
    // Throws RunError when the folder cannot be made current.
    void SetDirectory(const std::string& folder);
    void Update();

private:
    Platform& platform_;
    std::string directory_;
    std::vector<std::string> items_;
};

class TTimer {
public:
    TTimer(Platform& platform, unsigned interval) : platform_(platform), Interval(interval) {}
    std::function<void()> OnTimer;
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);

private:
    Platform& platform_;
    bool enabled_ = false;

public:
    const unsigned Interval;
};

}  // namespace qlr
