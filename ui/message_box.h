// The program's message boxes go through one replaceable function, so that tests can answer them
// instead of blocking on a box nobody sees.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace tarvel::ui {

using MessageBoxFunction = std::function<int(HWND owner, const std::string& text, UINT flags)>;

// Installs `hook` (an empty function restores the real box) and returns the one it replaces.
MessageBoxFunction SetMessageBoxHook(MessageBoxFunction hook);

// A message box captioned with the application's title; returns the button pressed (IDOK...).
int ShowMessage(HWND owner, const std::string& text, UINT flags = MB_OK);

} // namespace tarvel::ui
