// Tooltips that subclass each control themselves (TTF_SUBCLASS), so no window has to relay mouse messages.
#include "win/hints.h"

#include <commctrl.h>

#include "core/text/wide.h"

namespace tarvel::ui {

namespace {

TOOLINFOW ToolFor(HWND form, HWND control) {
    TOOLINFOW info{};
    // The version 2 layout: every comctl32 from 4.70 on takes it, with or without visual styles.
    info.cbSize = TTTOOLINFOW_V2_SIZE;
    info.uFlags = TTF_SUBCLASS | TTF_IDISHWND;
    info.hwnd = form;
    info.uId = reinterpret_cast<UINT_PTR>(control);
    return info;
}

// A drop-down combo box receives no mouse messages over its edit part: the edit child takes them.
HWND ComboEdit(HWND control) {
    wchar_t cls[16] = {};
    GetClassNameW(control, cls, 16);
    return lstrcmpiW(cls, L"ComboBox") == 0 ? FindWindowExW(control, nullptr, L"Edit", nullptr) : nullptr;
}

} // namespace

void Hints::Detach() {
    form_ = nullptr;
    tooltip_ = nullptr;
    texts_.clear();
}

bool Hints::Create(HWND form) {
    form_ = form;
    tooltip_ = CreateWindowExW(
        WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, form, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!tooltip_) return false;
    // Long hints wrap instead of running across the screen.
    SendMessageW(tooltip_, TTM_SETMAXTIPWIDTH, 0, 300);
    return true;
}

void Hints::AddTool(HWND control, const std::string& text) {
    TOOLINFOW info = ToolFor(form_, control);
    bool known = SendMessageW(tooltip_, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&info)) != 0;
    info = ToolFor(form_, control);
    std::wstring wide = Widen(text);
    info.lpszText = wide.data(); // the tooltip keeps its own copy
    SendMessageW(tooltip_, known ? TTM_UPDATETIPTEXTW : TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
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
