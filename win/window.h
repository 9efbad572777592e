// The one window base of the program: owns its HWND, binds `this` at WM_NCCREATE and dispatches
// every message through one virtual; also the single route by which worker threads reach a window.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>

namespace tarvel::ui {

class Window {
public:
    Window() = default;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    virtual ~Window();

    HWND Handle() const { return hwnd_.load(); }
    void Destroy();

    // Runs `fn` on the thread that owns the window, after the messages already queued. Safe from any
    // thread; dropped (not run) when the window is gone before the message is handled.
    bool Post(std::function<void()> fn) const;

protected:
    // Registers `className` once per process with this base's window procedure.
    static void RegisterClassOnce(const char* className, UINT style = 0, HICON icon = nullptr,
                                  HBRUSH background = nullptr);
    bool Create(const char* className, DWORD exStyle, const char* title, DWORD style, int x, int y, int width,
                int height, HWND parent = nullptr, HMENU menu = nullptr);
    // A hidden window that only receives messages (socket notifications, timers, posted work).
    bool CreateMessageOnly(const char* className);

    virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // Called after WM_NCDESTROY, when the handle is no longer valid.
    virtual void Destroyed() {}

private:
    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    // Read by Post() on worker threads while the owner's thread may be destroying the window.
    std::atomic<HWND> hwnd_{nullptr};
};

} // namespace tarvel::ui
