#include "platform/win32/ProgressWindowWin32.h"

#include <windowsx.h>

#include "platform/win32/GdiCanvas.h"
#include "platform/win32/Handles.h"
#include "ui/Progress.h"

namespace qlr::win32 {

namespace {

constexpr const char* kPartClass = "QlrProgressPart";  // the gauge and the labels

// Repaint this window now, without waiting for the message loop.
void RedrawNow(HWND window, bool children) {
    ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | (children ? RDW_ALLCHILDREN : 0));
}

MouseButton ButtonOf(UINT message) {
    switch (message) {
        case WM_RBUTTONDOWN:
        case WM_RBUTTONUP: return MouseButton::Right;
        case WM_MBUTTONDOWN:
        case WM_MBUTTONUP: return MouseButton::Middle;
        default: return MouseButton::Left;
    }
}

unsigned ShiftState() {
    unsigned shift = 0;
    if (::GetKeyState(VK_SHIFT) < 0) shift |= 1;
    if (::GetKeyState(VK_MENU) < 0) shift |= 2;
    if (::GetKeyState(VK_CONTROL) < 0) shift |= 4;
    return shift;
}

// The gauge's native bar: a new value marks it for redraw, Repaint draws it now.
class GaugePeer : public NativeControl {
public:
    explicit GaugePeer(HWND bar) : bar_(bar) {}
    void SetText(const std::string&) override { ::InvalidateRect(bar_, nullptr, FALSE); }
    void SetBounds(const Bounds& b) override { ::MoveWindow(bar_, b.left, b.top, b.width, b.height, TRUE); }
    void Repaint() override { ::UpdateWindow(bar_); }
    void* Handle() override { return bar_; }

private:
    HWND bar_;
};

class ProgressWindow : public NativeProgressWindow, public PanelPeer {
public:
    ProgressWindow(HWND owner, Tf_progress& model);
    ~ProgressWindow() override;

    void Show() override {
        ::ShowWindow(form_.get(), SW_SHOW);
        RedrawNow(form_.get(), true);
    }
    void Hide() override { ::ShowWindow(form_.get(), SW_HIDE); }
    void Repaint() override { RedrawNow(panel_, false); }
    void TakeFocus() override { ::SetFocus(panel_); }

    static LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK PanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK PartProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    HWND Child(HWND parent, const char* className, const Bounds& b, DWORD style);
    LRESULT Panel(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void PaintPart(HWND window);
    static void FitToText(HWND window, TProgressLabel& label);

    Tf_progress& model_;
    UniqueWindow form_;
    // Children go with the form.
    HWND panel_ = nullptr;
    HWND gauge_ = nullptr;
    HWND label1_ = nullptr;
    HWND label2_ = nullptr;
};

ProgressWindow* Self(HWND window) {
    return reinterpret_cast<ProgressWindow*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
}

// The creating object rides in on the create parameters.
bool Adopt(HWND window, UINT message, LPARAM lParam) {
    if (message != WM_NCCREATE) return false;
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    return true;
}

void RegisterClasses() {
    static const bool registered = [] {
        HINSTANCE instance = ::GetModuleHandleA(nullptr);
        WNDCLASSA form{};
        form.lpfnWndProc = &ProgressWindow::FormProc;
        form.hInstance = instance;
        form.hCursor = ::LoadCursor(nullptr, IDC_ARROW);
        form.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        form.lpszClassName = kProgressFormClass;
        ::RegisterClassA(&form);

        WNDCLASSA panel{};
        panel.lpfnWndProc = &ProgressWindow::PanelProc;
        panel.hInstance = instance;
        panel.hCursor = ::LoadCursor(nullptr, IDC_ARROW);
        panel.lpszClassName = kGradedPanelClass;
        ::RegisterClassA(&panel);

        WNDCLASSA part{};
        part.lpfnWndProc = &ProgressWindow::PartProc;
        part.hInstance = instance;
        part.hCursor = ::LoadCursor(nullptr, IDC_ARROW);
        part.lpszClassName = kPartClass;
        ::RegisterClassA(&part);
        return true;
    }();
    (void)registered;
}

ProgressWindow::ProgressWindow(HWND owner, Tf_progress& model) : model_(model) {
    RegisterClasses();
    const Bounds& at = Tf_progress::Placement;
    // No border: the window is its client area, placed as designed.
    form_.reset(::CreateWindowExA(0, kProgressFormClass, model.Caption.c_str(), WS_POPUP | WS_CLIPCHILDREN, at.left,
                                  at.top, at.width, at.height, owner, nullptr, ::GetModuleHandleA(nullptr), this));
    if (!form_) throw RunError("Error creating window");
    // A plain panel is no tab stop: it gets the focus only from a click.
    const TGradedPanel& p = model.GradedPanel1;
    panel_ = Child(form_.get(), kGradedPanelClass, {p.Left, p.Top, p.Width, p.Height}, WS_CLIPCHILDREN);
    gauge_ = Child(panel_, kPartClass, model.Gauge1.Placement, 0);
    label1_ = Child(panel_, kPartClass, model.Label1.Placement, 0);
    label2_ = Child(panel_, kPartClass, model.Label2.Placement, 0);
    FitToText(label1_, model.Label1);
    FitToText(label2_, model.Label2);
    model.GradedPanel1.AttachPeer(this);
    model.Gauge1.AttachPeer(std::make_unique<GaugePeer>(gauge_));
}

ProgressWindow::~ProgressWindow() {
    model_.GradedPanel1.AttachPeer(nullptr);
    model_.Gauge1.AttachPeer(nullptr);
}

// A self-sizing label grows or shrinks to its text in the font it gets here.
void ProgressWindow::FitToText(HWND window, TProgressLabel& label) {
    if (!label.AutoSize) return;
    {
        ClientDc dc(window);
        GdiCanvas canvas(dc.get());
        canvas.SetFont(label.Font);
        label.Placement.width = canvas.TextWidth(label.Caption);
        label.Placement.height = canvas.TextHeight(label.Caption);
    }
    ::SetWindowPos(window, nullptr, 0, 0, label.Placement.width, label.Placement.height,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

HWND ProgressWindow::Child(HWND parent, const char* className, const Bounds& b, DWORD style) {
    HWND child = ::CreateWindowExA(0, className, "", WS_CHILD | WS_VISIBLE | style, b.left, b.top, b.width, b.height,
                                   parent, nullptr, ::GetModuleHandleA(nullptr), this);
    if (!child) throw RunError("Error creating window");
    return child;
}

LRESULT CALLBACK ProgressWindow::FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (Adopt(window, message, lParam)) return ::DefWindowProcA(window, message, wParam, lParam);
    ProgressWindow* self = Self(window);
    if (self && message == WM_CLOSE) {
        self->model_.Close();  // closing a secondary window hides it
        return 0;
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK ProgressWindow::PanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (Adopt(window, message, lParam)) return ::DefWindowProcA(window, message, wParam, lParam);
    ProgressWindow* self = Self(window);
    if (!self) return ::DefWindowProcA(window, message, wParam, lParam);
    return self->Panel(window, message, wParam, lParam);
}

LRESULT ProgressWindow::Panel(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    TGradedPanel& panel = model_.GradedPanel1;
    switch (message) {
        case WM_ERASEBKGND: return 1;  // the face covers everything
        case WM_PAINT: {
            {
                PaintDc dc(window);
                GdiCanvas canvas(dc.get());
                panel.Paint(canvas);
            }
            // The labels show the face through them: they follow every change of it.
            for (HWND label : {label1_, label2_})
                if (label) RedrawNow(label, false);
            return 0;
        }
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN:
            ::SetCapture(window);
            panel.MouseDown(ButtonOf(message), GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
            return 0;
        case WM_LBUTTONUP:
        case WM_RBUTTONUP:
        case WM_MBUTTONUP:
            if (::GetCapture() == window) ::ReleaseCapture();
            panel.ButtonReleased(ButtonOf(message), GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
            return 0;
        case WM_SETFOCUS: panel.FocusGained(); return 0;
        case WM_KILLFOCUS: panel.FocusLost(); return 0;
        case WM_KEYUP: panel.KeyUp(static_cast<int>(wParam), ShiftState()); return 0;
        case WM_SYSKEYUP:
            panel.KeyUp(static_cast<int>(wParam), ShiftState());
            break;  // the system still sees Alt releases
        default: break;
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK ProgressWindow::PartProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (Adopt(window, message, lParam)) return ::DefWindowProcA(window, message, wParam, lParam);
    ProgressWindow* self = Self(window);
    if (self && message == WM_ERASEBKGND) return 1;
    if (self && message == WM_PAINT) {
        self->PaintPart(window);
        return 0;
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
}

void ProgressWindow::PaintPart(HWND window) {
    PaintDc paint(window);
    HDC dc = paint.get();
    GdiCanvas canvas(dc);
    if (window == gauge_) {
        model_.Gauge1.Paint(canvas);
        return;
    }
    const TProgressLabel& label = window == label1_ ? model_.Label1 : model_.Label2;
    // A transparent label: the panel's face where the label stands, then the text.
    POINT origin;
    ::SetViewportOrgEx(dc, -label.Placement.left, -label.Placement.top, &origin);
    model_.GradedPanel1.Paint(canvas);
    ::SetViewportOrgEx(dc, origin.x, origin.y, nullptr);
    label.Paint(canvas);
}

}  // namespace

std::unique_ptr<NativeProgressWindow> CreateProgressWindow(HWND owner, Tf_progress& model) {
    return std::make_unique<ProgressWindow>(owner, model);
}

}  // namespace qlr::win32
