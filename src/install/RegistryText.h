#pragma once
// String values of the registry as the installation reads them.

#include <string>

#include "platform/Platform.h"

namespace qlr {

// The text of a string value; empty when the value is missing. A value of
// another type is an error (RunError): the caller decides whether it matters.
std::string ReadRegistryText(RegistryKey& key, const std::string& name);

}  // namespace qlr
