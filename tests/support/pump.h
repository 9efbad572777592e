// The one message pump of the window tests: handle what is queued, pump until a condition holds, or
// until a marker posted behind everything queued now has been handled (no fixed waits).
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>

#include "win/application.h"
#include "win/window.h"

namespace tarvel::test {

// WM_QUIT messages seen by the pump: the main window asked the program to end.
inline std::atomic<int> QuitsSeen{0};

// Handles what is queued now, through the program's own dispatch, without waiting for more.
inline void Drain() {
    MSG msg;
    for (int i = 0; i < 10000 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
        if (msg.message == WM_QUIT) {
            ++QuitsSeen;
            continue;
        }
        ui::Application::Dispatch(msg);
    }
}

// Pumps messages until `done` holds or `limitMs` has passed; returns `done()`.
inline bool PumpUntil(const std::function<bool()>& done, DWORD limitMs = 20000) {
    const DWORD start = GetTickCount();
    for (;;) {
        Drain();
        if (done()) return true;
        if (GetTickCount() - start >= limitMs) return done();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

// Pumps until a marker posted to `window` now has been handled: everything posted to this thread before
// it (notifications, work posted by the program) has been handled too, and so has what that work posted
// in turn, up to `rounds` deep.
inline bool PumpUntilPosted(const ui::Window& window, int rounds = 3) {
    for (int i = 0; i < rounds; ++i) {
        // Shared: a marker that comes after a failed wait must find it still there.
        auto seen = std::make_shared<bool>(false);
        if (!window.Post([seen] { *seen = true; })) return false;
        if (!PumpUntil([seen] { return *seen; })) return false;
    }
    return true;
}

} // namespace tarvel::test
