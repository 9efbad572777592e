// The system's file-open dialog for picking attachments, several files at once.
#pragma once

#include <windows.h>

#include <commdlg.h>

#include <functional>
#include <string>
#include <vector>

namespace tarvel::ui {

// The dialog itself: GetOpenFileNameW, or a test's answer in its place.
using OpenFileCall = std::function<BOOL(OPENFILENAMEW* ofn)>;

// Full paths of the chosen files (UTF-8), in the dialog's order; empty when the user cancels.
std::vector<std::string> PickFiles(const OpenFileCall& dialog, HWND owner, const char* title);

// The dialog's answer buffer: one full path, or a folder followed by file names, each ended by a
// NUL and the whole by a second NUL.
std::vector<std::string> SplitPickedFiles(const wchar_t* buffer);

} // namespace tarvel::ui
