// A top-level window built from a layout table: its controls, their hints, bound event handlers and
// timers. The main window, the settings dialog and the about box derive from it.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "win/handles.h"
#include "win/hints.h"
#include "win/layout.h"
#include "win/window.h"

namespace tarvel::ui {

class Timer;

// The window itself: class name, caption, styles and where its client area goes on the screen.
struct FormLayout {
    const char* className;
    const char* caption;
    DWORD style;
    DWORD exStyle;
    int left, top;                 // outer position on the screen
    int clientWidth, clientHeight; // the outer size follows from the styles
    HICON classIcon = nullptr;     // icon of the window class (task switcher, caption)
};

// Pops up `menu` at x, y for its owner window and returns once it has closed (TrackPopupMenu).
void TrackMenu(HMENU menu, int x, int y, HWND owner);

// A pop-up menu owned by its form.
class PopupMenu {
public:
    HMENU Handle() const { return menu_.Get(); }
    bool Create(std::span<const std::pair<int, const char*>> items, int defaultId);

private:
    UniqueMenu menu_;
};

class Form : public Window {
public:
    // Controls by id; nullptr for an unknown id.
    HWND Control(int id) const;
    std::string Text(int id) const;
    // A label sized to its caption grows or shrinks with the new text.
    void SetText(int id, std::string_view text);
    bool IsEnabled(int id) const;
    void SetEnabled(int id, bool enabled);
    std::string Hint(int id) const;
    void SetHint(int id, std::string_view text);
    void FocusControl(int id);
    bool IsVisible() const;
    void Show();
    void Hide();
    // Destroys the window; a form made the main form ends the message loop with it.
    void Close();
    // Hides the window now and destroys it once the messages already queued have been handled, so that
    // the handler asking for it returns into a live window; dropped if the form goes before that.
    void CloseLater();

    // Lists (combo box, drop-down list).
    void ClearItems(int id);
    void AddItem(int id, std::string_view text);
    std::vector<std::string> Items(int id) const;
    int SelectedIndex(int id) const;
    void SetSelectedIndex(int id, int index);
    // Progress bars.
    int Position(int id) const;
    void SetPosition(int id, int position);
    // Multi-line edits: the lines as displayed (word wrap makes several of a long paragraph); a
    // last, empty line does not count.
    std::vector<std::string> Lines(int id) const;

    // Binds `handler` to the control's notification `code` (WM_COMMAND or WM_NOTIFY), or to a
    // menu item's id with code 0.
    void Bind(int id, UINT code, std::function<void()> handler);

    Hints& HintWindow() { return hints_; }
    HFONT Font() const;

    // For Timer.
    void AddTimer(Timer& timer);
    void RemoveTimer(Timer& timer);

protected:
    Form() = default;
    ~Form() override;

    bool CreateForm(const FormLayout& layout, HWND owner = nullptr);
    // Creates the table's controls and binds their handlers. Siblings are stacked so that the tab
    // sequence follows the tab order, whatever order the table lists them in; pages (panels without a
    // tab order) lie above everything else and labels below, so windowed controls are drawn over them.
    template <class F> bool CreateControls(std::span<const ControlDef<F>> table);
    template <class F> bool CreateMenu(PopupMenu& menu, std::span<const MenuItemDef<F>> items);
    HWND CreateControl(const ControlLayout& row);
    void SetMainForm(bool main) { mainForm_ = main; }

    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    bool CreateLayout(const std::vector<ControlLayout>& rows);
    void AutoSize(HWND label);
    void RunHandler(int id, UINT code);

    struct ControlInfo {
        HWND hwnd;
        ControlKind kind;
        bool autoSize;
        unsigned flags;
    };
    std::map<int, ControlInfo> controls_;
    std::map<std::pair<int, UINT>, std::function<void()>> handlers_;
    std::vector<Timer*> timers_;
    Hints hints_;
    bool mainForm_ = false;
};

template <class F> bool Form::CreateControls(std::span<const ControlDef<F>> table) {
    std::vector<ControlLayout> rows;
    for (const auto& def : table)
        rows.push_back(def.Layout());
    if (!CreateLayout(rows)) return false;
    F* self = static_cast<F*>(this);
    for (const auto& def : table) {
        if (!def.handler) continue;
        UINT code = 0;
        switch (def.kind) {
        case ControlKind::Edit:
        case ControlKind::Memo:
            code = EN_CHANGE;
            break;
        case ControlKind::ComboBox:
        case ControlKind::DropDownList:
            code = CBN_SELCHANGE;
            break;
        case ControlKind::TabControl:
            code = static_cast<UINT>(TCN_SELCHANGE);
            break;
        default:
            code = BN_CLICKED;
            break;
        }
        Bind(def.id, code, [self, h = def.handler] { (self->*h)(); });
    }
    return true;
}

template <class F> bool Form::CreateMenu(PopupMenu& menu, std::span<const MenuItemDef<F>> items) {
    std::vector<std::pair<int, const char*>> entries;
    int defaultId = 0;
    F* self = static_cast<F*>(this);
    for (const auto& item : items) {
        entries.emplace_back(item.id, item.caption);
        if (item.isDefault) defaultId = item.id;
        if (item.handler) Bind(item.id, 0, [self, h = item.handler] { (self->*h)(); });
    }
    return menu.Create(entries, defaultId);
}

// A form that exists at most once at a time, `open` telling whether it does: the open one is reused,
// else `make()` gives a new one that replaces the closed one and is created with `owner`. nullptr (and
// `open` cleared) when the new one cannot be created.
template <class F, class Make> F* OpenOnce(std::unique_ptr<F>& form, bool& open, HWND owner, Make make) {
    if (open && form && form->Handle()) return form.get();
    std::unique_ptr<F> fresh = make();
    form.reset(); // the released one before it, whose window is gone or going
    if (!fresh->Create(owner)) {
        open = false;
        return nullptr;
    }
    form = std::move(fresh);
    return form.get();
}

} // namespace tarvel::ui
