#pragma once
// The real progress window: a borderless popup owned by the main window,
// the graded panel as a child window that paints itself, and the gauge and
// the labels as the panel's children.

#include <windows.h>

#include <memory>

#include "platform/Platform.h"

namespace qlr::win32 {

// Window class names, for finding the window from outside.
inline constexpr const char* kProgressFormClass = "QlrProgressForm";
inline constexpr const char* kGradedPanelClass = "QlrGradedPanel";

std::unique_ptr<NativeProgressWindow> CreateProgressWindow(HWND owner, Tf_progress& model);

}  // namespace qlr::win32
