// The real services of the running program: what Windows itself does for each of them.
#pragma once

#include <string>

#include "platform/services.h"

namespace tarvel {

// For the program file at `exePath` (the registry entries name it; the home page is the shortcut
// beside it).
Services SystemServices(const std::string& exePath);

} // namespace tarvel
