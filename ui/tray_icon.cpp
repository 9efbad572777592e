// Tray icon requests: add, modify and delete with the 152-byte record; only add and delete decide
// whether the icon counts as shown.
#include "ui/tray_icon.h"

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <utility>

#include "core/text/wide.h"
#include "win/messages.h"

namespace tarvel::ui {

BOOL TrayIcon::ShellNotify(DWORD message, NotifyIconRecord& record) const {
    // The shell reads cbSize and never touches what lies beyond the bytes it names.
    auto* data = reinterpret_cast<NOTIFYICONDATAW*>(&record);
    return shell_(message, data);
}

TrayIcon::~TrayIcon() {
    if (shown_) SetEnabled(false);
}

NotifyIconRecord TrayIcon::Fill() const {
    NotifyIconRecord record{};
    record.cbSize = sizeof record;
    record.hWnd = handle_;
    record.uID = static_cast<UINT>(id_);
    record.uFlags = TrayIconFlags;
    record.uCallbackMessage = WM_TRAY_NOTIFY;
    record.hIcon = icon_.Handle();
    // Longer hints are cut to the 63 UTF-16 units the field holds before its NUL, never inside a
    // surrogate pair.
    const std::wstring hint = Widen(hint_);
    std::size_t length = std::min(hint.size(), std::size(record.szTip) - 1);
    if (length > 0 && length < hint.size() && hint[length - 1] >= 0xD800 && hint[length - 1] <= 0xDBFF)
        --length;
    std::wmemcpy(record.szTip, hint.data(), length);
    record.szTip[length] = L'\0';
    return record;
}

void TrayIcon::SetEnabled(bool value) {
    if (value == shown_) return;
    if (value) {
        record_ = Fill();
        shown_ = ShellNotify(NIM_ADD, record_) != FALSE;
    } else {
        // Removed under the window and identifier it was added with, whatever they are now.
        shown_ = ShellNotify(NIM_DELETE, record_) == FALSE;
    }
}

void TrayIcon::SetIcon(const IconImage& value) {
    if (&value == &icon_) return;
    icon_.Assign(value);
    if (shown_) Modify();
}

void TrayIcon::SetIconId(int value) {
    if (value == id_) return;
    id_ = value;
    if (shown_) Modify();
}

void TrayIcon::Modify() {
    NotifyIconRecord record = Fill();
    ShellNotify(NIM_MODIFY, record); // the outcome is not wanted; record_ stays the one added
}

void TrayIcon::ShellRestarted() {
    shown_ = false;
    SetEnabled(true);
}

} // namespace tarvel::ui
