#pragma once
// Controls keep their state in C++ and push it to a native peer when the
// platform gave them one (Windows); headless they are plain state.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace qlr {

class TControl {
public:
    TControl(std::string name, Bounds bounds) : Name(std::move(name)), bounds_(bounds) {}
    virtual ~TControl() = default;
    TControl(const TControl&) = delete;
    TControl& operator=(const TControl&) = delete;

    const std::string Name;
    const Bounds& GetBounds() const { return bounds_; }
    void AttachPeer(std::unique_ptr<NativeControl> peer) { peer_ = std::move(peer); }
    NativeControl* Peer() const { return peer_.get(); }
    void Repaint() {
        if (peer_) peer_->Repaint();
    }

protected:
    Bounds bounds_;
    std::unique_ptr<NativeControl> peer_;
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
    void SetText(std::string text) {
        text_ = std::move(text);
        if (peer_) peer_->SetText(text_);
    }
    void Clear() { SetText(std::string()); }

protected:
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
    void AddLine(const std::string& line) {
        SetText(text_.empty() ? line : text_ + "\r\n" + line);
    }
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
