// The program's own window messages, named in one place.
#pragma once

#include <windows.h>

namespace tarvel::ui {

// Work posted to a window's thread by Window::Post (lParam owns a std::function<void()>).
inline constexpr UINT WM_TARVEL_RUN = WM_APP + 1;
// The tray icon's callback and the socket component's notifications; each goes to its own window.
inline constexpr UINT WM_TRAY_NOTIFY = WM_USER;
inline constexpr UINT WM_SOCKET_NOTIFY = WM_USER;

} // namespace tarvel::ui
