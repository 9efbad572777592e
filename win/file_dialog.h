// The system's file-open dialog for picking attachments, several files at once.
#pragma once

#include <windows.h>

#include <commdlg.h>

#include <string>
#include <vector>

#include "win/hook.h"

namespace tarvel::ui {

// The dialog entry (GetOpenFileNameA); tests replace it to answer as the dialog would, without showing it.
extern Hook<BOOL(OPENFILENAMEA* ofn)> OpenFileHook;

// Full paths of the chosen files, in the dialog's order; empty when the user cancels.
std::vector<std::string> PickFiles(HWND owner, const char* title);

// The dialog's answer buffer: one full path, or a folder followed by file names, each ended by a
// NUL and the whole by a second NUL.
std::vector<std::string> SplitPickedFiles(const char* buffer);

} // namespace tarvel::ui
