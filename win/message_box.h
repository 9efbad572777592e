// Message boxes captioned with the program's title. Every box goes through a MessageBoxCall handed in by
// whoever shows it, so that tests answer it instead of blocking on a box nobody sees.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace tarvel::ui {

// Shows a box and returns the button pressed (IDOK...).
using MessageBoxCall =
    std::function<int(HWND owner, const std::string& text, const std::string& caption, UINT flags)>;

// The system's own box (MessageBoxW; the texts are UTF-8).
int SystemMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT flags);

// A box captioned with the application's title; returns the button pressed.
int ShowMessage(const MessageBoxCall& box, HWND owner, const std::string& text, UINT flags = MB_OK);

} // namespace tarvel::ui
