// The window base: creation, the shared window procedure and posted work.
#include "win/window.h"

#include <memory>
#include <mutex>
#include <set>

#include "core/text/wide.h"
#include "win/messages.h"

namespace tarvel::ui {

namespace {

using Job = std::function<void()>;

// The job a WM_TARVEL_RUN message carries, owned again by whoever takes it off the queue.
std::unique_ptr<Job> TakeJob(LPARAM lParam) {
    return std::unique_ptr<Job>(reinterpret_cast<Job*>(lParam));
}

} // namespace

Window::~Window() {
    Destroy();
}

void Window::Destroy() {
    if (HWND hwnd = hwnd_.load()) DestroyWindow(hwnd); // WM_NCDESTROY clears hwnd_
}

bool Window::Post(std::function<void()> fn) const {
    HWND hwnd = hwnd_.load();
    if (!hwnd) return false;
    auto job = std::make_unique<Job>(std::move(fn));
    if (!PostMessageW(hwnd, WM_TARVEL_RUN, 0, reinterpret_cast<LPARAM>(job.get()))) return false;
    job.release(); // the window procedure owns it now
    return true;
}

void Window::RegisterClassOnce(const char* className, UINT style, HICON icon, HBRUSH background) {
    static std::mutex lock;
    static std::set<std::string> registered;
    std::lock_guard<std::mutex> guard(lock);
    if (!registered.insert(className).second) return;
    // A W class makes the window a Unicode window: WM_CHAR and every text message carry UTF-16.
    const std::wstring name = Widen(className);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = style;
    wc.lpfnWndProc = &Window::Procedure;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hIcon = icon;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = background;
    wc.lpszClassName = name.c_str();
    RegisterClassExW(&wc);
}

bool Window::Create(const char* className, DWORD exStyle, const char* title, DWORD style, int x, int y,
                    int width, int height, HWND parent, HMENU menu) {
    return CreateWindowExW(exStyle, Widen(className).c_str(), Widen(title).c_str(), style, x, y, width,
                           height, parent, menu, GetModuleHandleW(nullptr), this) != nullptr;
}

bool Window::CreateMessageOnly(const char* className) {
    RegisterClassOnce(className);
    return Create(className, 0, "", 0, 0, 0, 0, 0, HWND_MESSAGE);
}

LRESULT Window::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(hwnd_.load(), message, wParam, lParam);
}

LRESULT CALLBACK Window::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* self;
    if (message == WM_NCCREATE) {
        // A full pointer: never cut to 32 bits, whatever the build.
        self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    }
    if (message == WM_TARVEL_RUN) {
        const std::unique_ptr<Job> job = TakeJob(lParam);
        if (self && *job) (*job)();
        return 0;
    }
    if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        LRESULT result = self->HandleMessage(message, wParam, lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        self->hwnd_ = nullptr;
        // Posted work still queued for this window would leak its job: drain it now.
        MSG msg;
        while (PeekMessageW(&msg, hwnd, WM_TARVEL_RUN, WM_TARVEL_RUN, PM_REMOVE)) {
            // PeekMessage hands out WM_QUIT whatever the filter: it must reach the message loop.
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                break;
            }
            TakeJob(msg.lParam); // dropped, not run
        }
        self->Destroyed();
        return result;
    }
    return self->HandleMessage(message, wParam, lParam);
}

} // namespace tarvel::ui
