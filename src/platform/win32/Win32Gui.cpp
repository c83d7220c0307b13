#include "platform/win32/Win32Gui.h"

#include "platform/win32/GdiCanvas.h"

#include <commctrl.h>

#include <utility>

namespace qlr::win32 {

namespace {

constexpr const char* kMainClass = "TForm1";
constexpr const char* kTimerClass = "TovanelTimer";
constexpr UINT_PTR kTimerId = 1;

HINSTANCE Instance() { return ::GetModuleHandleA(nullptr); }

MessagePump* PumpOf(HWND window) { return reinterpret_cast<MessagePump*>(::GetWindowLongPtrA(window, GWLP_USERDATA)); }

// Keeps the pump beside the window so the procedures below can reach it.
void RememberPump(HWND window, LPARAM createParams) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(createParams);
    ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
}

LRESULT CALLBACK MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_NCCREATE: RememberPump(window, lParam); break;
        case WM_CLOSE:
            // Closing the main window ends the application; the window itself stays.
            if (MessagePump* pump = PumpOf(window)) pump->Terminate();
            return 0;
        default: break;
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK TimerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) RememberPump(window, lParam);
    if (message == WM_TIMER && wParam == kTimerId) {
        if (MessagePump* pump = PumpOf(window)) {
            try {
                pump->Tick();
            } catch (...) {
                pump->Fail(std::current_exception());
            }
        }
        return 0;
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
}

void RegisterOnce(const char* name, WNDPROC procedure, HBRUSH background) {
    WNDCLASSEXA windowClass{};
    if (::GetClassInfoExA(Instance(), name, &windowClass)) return;
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = Instance();
    windowClass.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hIcon = ::LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.hbrBackground = background;
    windowClass.lpszClassName = name;
    if (!::RegisterClassExA(&windowClass) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        throw RunError(std::string("Cannot register window class ") + name);
}

// A label sizes itself to its caption when it was given no width.
int TextWidth(HWND window, HFONT font, const std::string& text) {
    ClientDc dc(window);
    if (!dc.get()) return 0;
    HGDIOBJ old = ::SelectObject(dc.get(), font);
    SIZE size{};
    ::GetTextExtentPoint32A(dc.get(), text.c_str(), static_cast<int>(text.size()), &size);
    ::SelectObject(dc.get(), old);
    return size.cx;
}

class ChildControl : public NativeControl {
public:
    ChildControl(HWND window, ControlKind kind) : window_(window), kind_(kind) {}

    void SetText(const std::string& text) override { ::SetWindowTextA(window_, text.c_str()); }

    void SetItems(const std::vector<std::string>& items) override {
        if (kind_ != ControlKind::FileList) return;
        ::SendMessageA(window_, WM_SETREDRAW, FALSE, 0);
        ::SendMessageA(window_, LB_RESETCONTENT, 0, 0);
        for (const std::string& item : items)
            ::SendMessageA(window_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
        ::SendMessageA(window_, WM_SETREDRAW, TRUE, 0);
        ::InvalidateRect(window_, nullptr, TRUE);
    }

    void SetBounds(const Bounds& b) override { ::MoveWindow(window_, b.left, b.top, b.width, b.height, TRUE); }

    void Repaint() override {
        ::InvalidateRect(window_, nullptr, TRUE);
        ::UpdateWindow(window_);
    }

    void* Handle() override { return window_; }

private:
    HWND window_;  // owned by the parent window
    ControlKind kind_;
};

}  // namespace

// ---- the main window ------------------------------------------------------

Win32Window::Win32Window(MessagePump& pump, const Bounds& bounds, const std::string& caption) : pump_(pump) {
    RegisterOnce(kMainClass, MainProc, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
    font_.reset(::CreateFontA(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                              CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "MS Sans Serif"));
    window_.reset(::CreateWindowExA(0, kMainClass, caption.c_str(), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, bounds.left,
                                    bounds.top, bounds.width, bounds.height, nullptr, nullptr, Instance(), &pump_));
    if (!window_) throw RunError("Cannot create the main window");
    ::SendMessageA(window_.get(), WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    pump_.MainWindowCreated(window_.get());
}

Win32Window::~Win32Window() { pump_.MainWindowGone(window_.get()); }

void Win32Window::SetText(const std::string& text) { ::SetWindowTextA(window_.get(), text.c_str()); }

void Win32Window::SetBounds(const Bounds& b) { ::MoveWindow(window_.get(), b.left, b.top, b.width, b.height, TRUE); }

void Win32Window::Repaint() {
    ::RedrawWindow(window_.get(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

std::unique_ptr<NativeControl> Win32Window::AddControl(ControlKind kind, const Bounds& bounds,
                                                       const std::string& text) {
    const char* className = "STATIC";
    DWORD style = WS_CHILD | WS_VISIBLE;
    DWORD exStyle = 0;
    Bounds place = bounds;
    switch (kind) {
        case ControlKind::Label:
            style |= SS_LEFT | SS_NOPREFIX;
            if (place.width <= 0) place.width = TextWidth(window_.get(), Font(), text);
            break;
        case ControlKind::Edit:
            className = "EDIT";
            style |= WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL;
            exStyle = WS_EX_CLIENTEDGE;
            break;
        case ControlKind::Memo:
            // Word wrap: no horizontal scrolling and no scroll bars.
            className = "EDIT";
            style |= WS_TABSTOP | ES_LEFT | ES_MULTILINE | ES_AUTOVSCROLL;
            exStyle = WS_EX_CLIENTEDGE;
            break;
        case ControlKind::FileList:
            className = "LISTBOX";
            style |= WS_TABSTOP | WS_VSCROLL | LBS_SORT | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT;
            exStyle = WS_EX_CLIENTEDGE;
            break;
    }
    HWND control = ::CreateWindowExA(exStyle, className, text.c_str(), style, place.left, place.top, place.width,
                                     place.height, window_.get(), nullptr, Instance(), nullptr);
    if (!control) throw RunError(std::string("Cannot create a control of class ") + className);
    ::SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    // The run log outgrows an edit's default limit within a long run.
    if (kind == ControlKind::Memo) ::SendMessageA(control, EM_SETLIMITTEXT, 0, 0);
    return std::make_unique<ChildControl>(control, kind);
}

void Win32Window::Show() { ::ShowWindow(window_.get(), SW_SHOW); }

void Win32Window::Hide() { ::ShowWindow(window_.get(), SW_HIDE); }

// ---- the message pump -----------------------------------------------------

MessagePump::MessagePump() = default;

MessagePump::~MessagePump() { StopTimer(); }

std::unique_ptr<NativeWindow> MessagePump::CreateMainWindow(const Bounds& bounds, const std::string& caption) {
    return std::make_unique<Win32Window>(*this, bounds, caption);
}

void MessagePump::MainWindowGone(HWND window) {
    if (mainWindow_ == window) mainWindow_ = nullptr;
}

void MessagePump::StartTimer(unsigned intervalMs, std::function<void()> onTick) {
    if (!timerWindow_) {
        RegisterOnce(kTimerClass, TimerProc, nullptr);
        timerWindow_.reset(
            ::CreateWindowExA(0, kTimerClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, Instance(), this));
        if (!timerWindow_) throw RunError("Cannot create the timer window");
    }
    onTick_ = std::move(onTick);
    if (!::SetTimer(timerWindow_.get(), kTimerId, intervalMs, nullptr)) throw RunError("Not enough timers available");
}

void MessagePump::StopTimer() {
    if (timerWindow_) ::KillTimer(timerWindow_.get(), kTimerId);
}

void MessagePump::Tick() {
    // The handler may stop or restart the timer, which replaces onTick_ while it runs.
    auto onTick = onTick_;
    if (onTick) onTick();
}

void MessagePump::Dispatch(const MSG& message) {
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
    if (pending_) std::rethrow_exception(std::exchange(pending_, nullptr));
}

void MessagePump::Run() {
    if (mainWindow_) ::ShowWindow(mainWindow_, SW_SHOW);
    MSG message;
    while (!terminated_) {
        const BOOL got = ::GetMessageA(&message, nullptr, 0, 0);
        if (got == 0 || got == -1) {
            terminated_ = true;
            break;
        }
        Dispatch(message);
    }
}

void MessagePump::ProcessQueued() {
    MSG message;
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            terminated_ = true;
            return;
        }
        Dispatch(message);
    }
}

void MessagePump::Terminate() {
    // A flag and a wake-up rather than WM_QUIT: a quit request would outlive
    // this loop in the thread's queue and end the next one at once.
    if (terminated_) return;
    terminated_ = true;
    ::PostThreadMessageA(::GetCurrentThreadId(), WM_NULL, 0, 0);
}

}  // namespace qlr::win32
