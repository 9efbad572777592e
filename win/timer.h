// A window timer owned by its form: SetTimer while enabled, KillTimer when disabled or destroyed.
#pragma once

#include <windows.h>

#include <functional>

namespace tarvel::ui {

class Form;

class Timer {
public:
    // Created disabled. `id` must be unique within the owner.
    Timer(Form& owner, UINT_PTR id, UINT intervalMs, std::function<void()> onTimer);
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;
    ~Timer();

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    UINT Interval() const { return interval_; }
    UINT_PTR Id() const { return id_; }

    // Called by the owner on WM_TIMER with this timer's id.
    void Fire();

private:
    Form& owner_;
    UINT_PTR id_;
    const UINT interval_;
    std::function<void()> onTimer_;
    bool enabled_ = false;
};

} // namespace tarvel::ui
