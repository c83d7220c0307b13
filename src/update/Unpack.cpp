#include "app/main.h"

namespace qlr {

bool TForm1::UnpackPackage(const std::string& packagePath) {
    throw RunError("Cannot open file " + packagePath);  // filled in by the packages work
}

}  // namespace qlr
