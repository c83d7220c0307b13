#pragma once
// The main window, its child controls, the timer and the message loop.

#include <windows.h>

#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "platform/Platform.h"
#include "platform/win32/Handles.h"

namespace qlr::win32 {

class MessagePump;

// The top-level window "TForm1". It owns its font and its HWND; the child
// controls belong to the HWND (the system destroys them with it), so their
// peers may be dropped without the controls disappearing.
class Win32Window : public NativeWindow {
public:
    Win32Window(MessagePump& pump, const Bounds& bounds, const std::string& caption);
    ~Win32Window() override;

    HWND Hwnd() const { return window_.get(); }
    void* Handle() override { return window_.get(); }
    HFONT Font() const { return static_cast<HFONT>(font_.get()); }

    void SetText(const std::string& text) override;
    void SetBounds(const Bounds& bounds) override;
    void Repaint() override;
    std::unique_ptr<NativeControl> AddControl(ControlKind kind, const Bounds& bounds, const std::string& text) override;
    void Show() override;
    void Hide() override;

private:
    MessagePump& pump_;
    UniqueGdiObject font_;  // declared first: outlives the window that uses it
    UniqueWindow window_;
};

class MessagePump {
public:
    MessagePump();
    ~MessagePump();
    MessagePump(const MessagePump&) = delete;
    MessagePump& operator=(const MessagePump&) = delete;

    std::unique_ptr<NativeWindow> CreateMainWindow(const Bounds& bounds, const std::string& caption);
    void StartTimer(unsigned intervalMs, std::function<void()> onTick);
    void StopTimer();
    void Run();
    void ProcessQueued();
    void Terminate();
    bool Terminated() const { return terminated_; }

    // For the window procedures: the main window's lifetime, a tick, and errors
    // that must not unwind through the system's frames.
    void MainWindowCreated(HWND window) { mainWindow_ = window; }
    void MainWindowGone(HWND window);
    void Tick();
    void Fail(std::exception_ptr error) {
        if (!pending_) pending_ = error;
    }

private:
    void Dispatch(const MSG& message);

    HWND mainWindow_ = nullptr;  // not owned: the NativeWindow owns it
    UniqueWindow timerWindow_;
    std::function<void()> onTick_;
    bool terminated_ = false;
    std::exception_ptr pending_;
};

}  // namespace qlr::win32
