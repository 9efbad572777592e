// Timers tick through the owner's message queue, so their handlers run on the user-interface thread.
#include "win/timer.h"

#include "win/form.h"

namespace tarvel::ui {

Timer::Timer(Form& owner, UINT_PTR id, UINT intervalMs, std::function<void()> onTimer)
    : owner_(owner), id_(id), interval_(intervalMs), onTimer_(std::move(onTimer)) {
    owner_.AddTimer(*this);
}

Timer::~Timer() {
    SetEnabled(false);
    owner_.RemoveTimer(*this);
}

void Timer::SetEnabled(bool enabled) {
    HWND hwnd = owner_.Handle();
    if (enabled) {
        // Setting an existing timer again restarts its interval.
        enabled_ = hwnd && SetTimer(hwnd, id_, interval_, nullptr) != 0;
    } else {
        if (enabled_ && hwnd) KillTimer(hwnd, id_);
        enabled_ = false;
    }
}

void Timer::Fire() {
    // A tick may already be queued when the timer is stopped: it is dropped.
    if (enabled_ && onTimer_) onTimer_();
}

} // namespace tarvel::ui
