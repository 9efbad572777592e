// The one dialog font of the program's windows.
#pragma once

#include <windows.h>

namespace tarvel::ui {

// "MS Sans Serif" at 8 points, sized for 96 dpi like the pixel layouts it is used with; created
// on first use and kept for the run.
HFONT DefaultFont();

} // namespace tarvel::ui
