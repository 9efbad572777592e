// The program's message boxes go through one replaceable function, so that tests can answer them
// instead of blocking on a box nobody sees.
#pragma once

#include <windows.h>

#include <string>

#include "win/hook.h"

namespace tarvel::ui {

// Every message box of the program, whatever shows it; returns the button pressed (IDOK...).
using MessageBoxCall = Hook<int(HWND owner, const std::string& text, const std::string& caption, UINT flags)>;
extern MessageBoxCall MessageBoxHook;

// A message box captioned with the application's title; returns the button pressed (IDOK...).
int ShowMessage(HWND owner, const std::string& text, UINT flags = MB_OK);

} // namespace tarvel::ui
