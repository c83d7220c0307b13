#include "app/main.h"

namespace qlr {

// Filled in by the installation work.
void TForm1::MakeSuiteShortcuts() {}
void TForm1::MakeShortcut(const std::string& target, int shortcutLocation) {
    (void)target;
    (void)shortcutLocation;
}

}  // namespace qlr
