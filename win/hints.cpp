// Tooltips that subclass each control themselves (TTF_SUBCLASS), so no window has to relay mouse messages.
#include "win/hints.h"

#include <commctrl.h>

namespace tarvel::ui {

namespace {

TOOLINFOA ToolFor(HWND form, HWND control) {
    TOOLINFOA info{};
    // The version 2 layout: every comctl32 from 4.70 on takes it, with or without visual styles.
    info.cbSize = TTTOOLINFOA_V2_SIZE;
    info.uFlags = TTF_SUBCLASS | TTF_IDISHWND;
    info.hwnd = form;
    info.uId = reinterpret_cast<UINT_PTR>(control);
    return info;
}

// A drop-down combo box receives no mouse messages over its edit part: the edit child takes them.
HWND ComboEdit(HWND control) {
    char cls[16] = {};
    GetClassNameA(control, cls, sizeof cls);
    return lstrcmpiA(cls, "ComboBox") == 0 ? FindWindowExA(control, nullptr, "Edit", nullptr) : nullptr;
}

} // namespace

void Hints::Detach() {
    form_ = nullptr;
    tooltip_ = nullptr;
    texts_.clear();
}

bool Hints::Create(HWND form) {
    form_ = form;
    tooltip_ = CreateWindowExA(
        WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, form, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (!tooltip_) return false;
    // Long hints wrap instead of running across the screen.
    SendMessageA(tooltip_, TTM_SETMAXTIPWIDTH, 0, 300);
    return true;
}

void Hints::AddTool(HWND control, const std::string& text) {
    TOOLINFOA info = ToolFor(form_, control);
    bool known = SendMessageA(tooltip_, TTM_GETTOOLINFOA, 0, reinterpret_cast<LPARAM>(&info)) != 0;
    info = ToolFor(form_, control);
    info.lpszText = const_cast<char*>(text.c_str()); // the tooltip keeps its own copy
    SendMessageA(tooltip_, known ? TTM_UPDATETIPTEXTA : TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&info));
}

void Hints::Set(HWND control, std::string_view text, bool show) {
    std::string& stored = texts_[control];
    stored.assign(text);
    if (!tooltip_ || !show) return;
    AddTool(control, stored);
    if (HWND edit = ComboEdit(control)) AddTool(edit, stored);
}

std::string Hints::Get(HWND control) const {
    auto found = texts_.find(control);
    return found == texts_.end() ? std::string() : found->second;
}

} // namespace tarvel::ui
