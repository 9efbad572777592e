// Hint texts of a window's controls, shown by one comctl32 tooltip when the mouse pointer rests on them.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <string_view>

namespace tarvel::ui {

class Hints {
public:
    Hints() = default;
    Hints(const Hints&) = delete;
    Hints& operator=(const Hints&) = delete;

    // Creates the tooltip window owned by `form`; false when comctl32 refuses it.
    bool Create(HWND form);
    // Sets the control's hint; `show` false keeps the text without ever displaying it.
    void Set(HWND control, std::string_view text, bool show = true);
    std::string Get(HWND control) const;
    HWND Tooltip() const { return tooltip_; }
    // The form is gone, and its tooltip with it (the form owns it).
    void Detach();

private:
    void AddTool(HWND control, const std::string& text);
    HWND form_ = nullptr;
    HWND tooltip_ = nullptr; // owned by form_ and destroyed with it
    std::map<HWND, std::string> texts_;
};

} // namespace tarvel::ui
