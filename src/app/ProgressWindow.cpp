#include "app/main.h"

namespace qlr {

// Created on first use, owned by the main window; closing only hides it.
void TForm1::ShowProgressWindow() {
    if (!f_progress) f_progress = std::make_unique<Tf_progress>(platform_, window_.get());
    f_progress->Show();
}

void TForm1::CloseProgressWindow() {
    if (f_progress) f_progress->Close();
}

}  // namespace qlr
