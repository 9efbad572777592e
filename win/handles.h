// Owning wrappers for the GDI and USER handles the windows keep: each frees its handle exactly once.
#pragma once

#include <windows.h>

#include <utility>

namespace tarvel::ui {

template <class H, class Traits> class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(H handle) : handle_(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, H{})) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) Reset(std::exchange(other.handle_, H{}));
        return *this;
    }
    ~UniqueHandle() { Reset(); }

    H Get() const { return handle_; }
    explicit operator bool() const { return handle_ != H{}; }
    void Reset(H handle = H{}) {
        if (handle_ != H{}) Traits::Free(handle_);
        handle_ = handle;
    }
    H Release() { return std::exchange(handle_, H{}); }

private:
    H handle_{};
};

struct IconTraits {
    static void Free(HICON h) { DestroyIcon(h); }
};
struct FontTraits {
    static void Free(HFONT h) { DeleteObject(h); }
};
struct MenuTraits {
    static void Free(HMENU h) { DestroyMenu(h); }
};
struct RegionTraits {
    static void Free(HRGN h) { DeleteObject(h); }
};

using UniqueIcon = UniqueHandle<HICON, IconTraits>;
using UniqueFont = UniqueHandle<HFONT, FontTraits>;
using UniqueMenu = UniqueHandle<HMENU, MenuTraits>;
using UniqueRegion = UniqueHandle<HRGN, RegionTraits>;

// A window's device context for one scope, optionally with an object (a font) selected into it. The old
// selection goes back before the context does, so nothing of ours stays selected in the system's cache.
class WindowDC {
public:
    explicit WindowDC(HWND window, HGDIOBJ select = nullptr) : window_(window), dc_(GetDC(window)) {
        if (dc_ && select) previous_ = SelectObject(dc_, select);
    }
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;
    ~WindowDC() {
        if (!dc_) return;
        if (previous_) SelectObject(dc_, previous_);
        ReleaseDC(window_, dc_);
    }

    HDC Get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
    HGDIOBJ previous_ = nullptr;
};

} // namespace tarvel::ui
