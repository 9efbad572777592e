// Tray icon requests: add, modify and delete with the 88-byte record; only add and delete decide
// whether the icon counts as shown.
#include "ui/tray_icon.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "win/messages.h"

namespace tarvel::ui {

BOOL TrayIcon::ShellNotify(DWORD message, NotifyIconRecord& record) const {
    // The shell reads cbSize and never touches what lies beyond the 88 bytes it names.
    auto* data = reinterpret_cast<NOTIFYICONDATAA*>(&record);
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
    // Longer hints are cut to the 63 characters the field holds before its NUL.
    std::size_t length = std::min(hint_.size(), sizeof record.szTip - 1);
    std::memcpy(record.szTip, hint_.data(), length);
    record.szTip[length] = '\0';
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
