// The notification-area icon (TrayIcon): one icon with a tip, added, updated and removed through the
// shell; the shell's mouse notifications (WM_TRAY_NOTIFY) go to the window named in Handle.
#pragma once

#include <windows.h>

#include <shellapi.h>

#include <cstddef>
#include <functional>
#include <string>

#include "win/icon.h"

namespace tarvel::ui {

// The first layout of NOTIFYICONDATAW, which every shell accepts.
struct NotifyIconRecord {
    DWORD cbSize;
    HWND hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    HICON hIcon;
    wchar_t szTip[64];
};
static_assert(sizeof(NotifyIconRecord) == 152);
static_assert(sizeof(NotifyIconRecord) == NOTIFYICONDATAW_V1_SIZE);
static_assert(offsetof(NotifyIconRecord, hIcon) == offsetof(NOTIFYICONDATAW, hIcon));
static_assert(offsetof(NotifyIconRecord, szTip) == offsetof(NOTIFYICONDATAW, szTip));

inline constexpr UINT TrayIconFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP; // 7

// The shell entry all requests go through (Shell_NotifyIconW); tests hand in one that watches or refuses
// them.
using ShellNotifyCall = std::function<BOOL(DWORD message, NOTIFYICONDATAW* data)>;

class TrayIcon {
public:
    explicit TrayIcon(ShellNotifyCall shell) : shell_(std::move(shell)) {}
    TrayIcon(const TrayIcon&) = delete;
    TrayIcon& operator=(const TrayIcon&) = delete;
    // A shown icon is removed, as SetEnabled(false) does.
    ~TrayIcon();

    bool Enabled() const { return shown_; }
    // True adds the icon, false deletes it; the value changes only when the shell agrees.
    void SetEnabled(bool value);
    const IconImage& Icon() const { return icon_; }
    // Copies the picture; a shown icon is updated.
    void SetIcon(const IconImage& value);
    HWND Handle() const { return handle_; }
    void SetHandle(HWND value) { handle_ = value; }
    int IconId() const { return id_; }
    // A shown icon is updated under the new identifier.
    void SetIconId(int value);
    // The tip; it reaches the shell with the next add or modify.
    const std::string& Hint() const { return hint_; }
    void SetHint(std::string value) { hint_ = std::move(value); }

    // After the shell restarted (its "TaskbarCreated" message) it has forgotten the icon: add it again.
    void ShellRestarted();

    // Kept for the owner; the component itself never raises them (the shell notifies Handle).
    std::function<void()> OnClick;
    std::function<void()> OnDblClick;
    std::function<void(int x, int y)> OnRightClick;

private:
    NotifyIconRecord Fill() const;
    BOOL ShellNotify(DWORD message, NotifyIconRecord& record) const;
    void Modify();

    ShellNotifyCall shell_;
    NotifyIconRecord record_{}; // the record of the last add; the delete reuses it
    bool shown_ = false;
    IconImage icon_;
    HWND handle_ = nullptr;
    int id_ = 0;
    std::string hint_;
};

} // namespace tarvel::ui
