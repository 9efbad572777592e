// Forms: creation from layout tables, control access by id, and one dispatch of notifications,
// menu commands and timer ticks to the bound handlers.
#include "win/form.h"

#include <algorithm>

#include "core/text/wide.h"
#include "win/application.h"
#include "win/font.h"
#include "win/timer.h"

namespace tarvel::ui {

namespace {

constexpr const wchar_t* PanelClass = L"TarvelPanel";

// Controls send their notifications to their parent: a panel hands them on to its form.
LRESULT CALLBACK PanelProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORLISTBOX:
        return SendMessageW(GetParent(hwnd), message, wParam, lParam);
    default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

void RegisterPanelClass() {
    static const bool registered = [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = PanelProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = PanelClass;
        return RegisterClassW(&wc) != 0;
    }();
    (void)registered;
}

HFONT BoldFont() {
    static const UniqueFont font([] {
        LOGFONTW lf{};
        GetObjectW(DefaultFont(), sizeof lf, &lf);
        lf.lfWeight = FW_BOLD;
        return CreateFontIndirectW(&lf);
    }());
    return font.Get();
}

// The whole text of a window or control, in UTF-16 as the W functions hand it.
std::wstring WindowText(HWND hwnd) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(hwnd)), L'\0');
    const int got = GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()) + 1);
    text.resize(static_cast<size_t>(std::max(got, 0)));
    return text;
}

} // namespace

void TrackMenu(HMENU menu, int x, int y, HWND owner) {
    TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON, x, y, 0, owner, nullptr);
    // The shell's known quirk: the menu needs a message after it to go away for good.
    PostMessageW(owner, WM_NULL, 0, 0);
}

bool PopupMenu::Create(std::span<const std::pair<int, const char*>> items, int defaultId) {
    menu_.Reset(CreatePopupMenu());
    if (!menu_) return false;
    for (const auto& [id, caption] : items) {
        if (caption)
            AppendMenuW(menu_.Get(), MF_STRING, static_cast<UINT_PTR>(id), Widen(caption).c_str());
        else
            AppendMenuW(menu_.Get(), MF_SEPARATOR, 0, nullptr);
    }
    if (defaultId) SetMenuDefaultItem(menu_.Get(), static_cast<UINT>(defaultId), FALSE);
    return true;
}

Form::~Form() {
    Destroy();
    // Timers are members of derived forms and are gone by now; nothing to kill.
}

bool Form::CreateForm(const FormLayout& layout, HWND owner) {
    RegisterClassOnce(layout.className, 0, layout.classIcon, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
    RECT outer{0, 0, layout.clientWidth, layout.clientHeight};
    AdjustWindowRectEx(&outer, layout.style, FALSE, layout.exStyle);
    if (!Create(layout.className, layout.exStyle, layout.caption, layout.style, layout.left, layout.top,
                outer.right - outer.left, outer.bottom - outer.top, owner))
        return false;
    SendMessageW(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(DefaultFont()), FALSE);
    hints_.Create(Handle());
    Application::AddModeless(Handle());
    return true;
}

bool Form::CreateLayout(const std::vector<ControlLayout>& rows) {
    auto container = [](const ControlLayout& r) {
        return r.kind == ControlKind::Panel || r.kind == ControlKind::TabControl;
    };
    // Containers first: the controls placed on them need their window as parent.
    for (const ControlLayout& row : rows)
        if (container(row) && !CreateControl(row)) return false;
    for (const ControlLayout& row : rows)
        if (!container(row) && !CreateControl(row)) return false;

    // Stacking order among siblings is the tab sequence of IsDialogMessage.
    auto rank = [](const ControlLayout& r) {
        if (r.tabOrder != NoTabOrder) return 1;
        return r.kind == ControlKind::Panel ? 0 : 2;
    };
    std::vector<ControlLayout> stacked(rows);
    std::stable_sort(stacked.begin(), stacked.end(), [&](const ControlLayout& a, const ControlLayout& b) {
        return rank(a) != rank(b) ? rank(a) < rank(b) : a.tabOrder < b.tabOrder;
    });
    for (const ControlLayout& row : stacked)
        SetWindowPos(Control(row.id), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return true;
}

HWND Form::CreateControl(const ControlLayout& row) {
    const wchar_t* cls = L"STATIC";
    // Overlapping siblings are drawn by their stacking order.
    DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
    DWORD exStyle = 0;
    int height = row.height;
    switch (row.kind) {
    case ControlKind::Label:
        style |= SS_LEFT | SS_NOPREFIX | (row.flags & Centered ? SS_CENTER : 0);
        // Statics let mouse messages through to their parent unless they ask for them.
        if (row.hint) style |= SS_NOTIFY;
        break;
    case ControlKind::Edit:
        cls = L"EDIT";
        style |= ES_AUTOHSCROLL | (row.flags & Password ? ES_PASSWORD : 0);
        exStyle = WS_EX_CLIENTEDGE;
        break;
    case ControlKind::Memo:
        cls = L"EDIT";
        style |= ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL | WS_VSCROLL;
        exStyle = WS_EX_CLIENTEDGE;
        break;
    case ControlKind::ComboBox:
    case ControlKind::DropDownList:
        cls = L"COMBOBOX";
        style |= WS_VSCROLL |
                 (row.kind == ControlKind::ComboBox ? CBS_DROPDOWN | CBS_AUTOHSCROLL : CBS_DROPDOWNLIST);
        // The height given to a combo box includes its dropped-down list.
        height += 8 * 16;
        break;
    case ControlKind::Button:
        cls = L"BUTTON";
        style |= BS_PUSHBUTTON;
        break;
    case ControlKind::CheckBox:
        cls = L"BUTTON";
        style |= BS_AUTOCHECKBOX;
        break;
    case ControlKind::ProgressBar:
        cls = PROGRESS_CLASSW;
        break;
    case ControlKind::TabControl:
        cls = WC_TABCONTROLW;
        break;
    case ControlKind::Panel:
        RegisterPanelClass();
        cls = PanelClass;
        exStyle = WS_EX_CONTROLPARENT; // tab navigation goes into the panel's children
        break;
    }
    bool focusable = row.kind != ControlKind::Label && row.kind != ControlKind::ProgressBar &&
                     row.kind != ControlKind::Panel;
    if (row.tabOrder != NoTabOrder && focusable) style |= WS_TABSTOP;
    if (!(row.flags & Hidden)) style |= WS_VISIBLE;
    if (row.flags & Disabled) style |= WS_DISABLED;

    HWND parent = row.parent ? Control(row.parent) : Handle();
    if (!parent) return nullptr;
    HWND hwnd = CreateWindowExW(
        exStyle, cls, Widen(row.caption ? row.caption : "").c_str(), style, row.x, row.y, row.width, height,
        parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(row.id)), GetModuleHandleW(nullptr), nullptr);
    if (!hwnd) return nullptr;
    SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(row.flags & Bold ? BoldFont() : DefaultFont()),
                 FALSE);
    if (row.kind == ControlKind::Edit || row.kind == ControlKind::Memo)
        SendMessageW(hwnd, EM_LIMITTEXT, 0, 0); // no limit beyond the system's own
    if (row.kind == ControlKind::ProgressBar) SendMessageW(hwnd, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    bool autoSize = row.kind == ControlKind::Label && row.width == 0 && row.height == 0;
    controls_[row.id] = {hwnd, row.kind, autoSize, row.flags};
    if (autoSize) AutoSize(hwnd);
    if (row.hint) hints_.Set(hwnd, row.hint, !(row.flags & HintHidden));
    return hwnd;
}

void Form::AutoSize(HWND label) {
    std::wstring text = WindowText(label);
    // A reply shown as status ends in CR LF: that makes no extra line.
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    RECT extent{0, 0, 0, 0};
    {
        const WindowDC dc(label, reinterpret_cast<HGDIOBJ>(SendMessageW(label, WM_GETFONT, 0, 0)));
        DrawTextW(dc.Get(), text.empty() ? L" " : text.c_str(), -1, &extent,
                  DT_CALCRECT | DT_NOPREFIX | DT_LEFT);
    }
    if (text.empty()) extent.right = 0;
    SetWindowPos(label, nullptr, 0, 0, extent.right, extent.bottom,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

HWND Form::Control(int id) const {
    auto found = controls_.find(id);
    return found == controls_.end() ? nullptr : found->second.hwnd;
}

std::string Form::Text(int id) const {
    HWND hwnd = id ? Control(id) : Handle();
    if (!hwnd) return {};
    return Narrow(WindowText(hwnd));
}

void Form::SetText(int id, std::string_view text) {
    HWND hwnd = id ? Control(id) : Handle();
    if (!hwnd) return;
    SetWindowTextW(hwnd, Widen(text).c_str());
    auto found = controls_.find(id);
    if (found != controls_.end() && found->second.autoSize) AutoSize(hwnd);
}

bool Form::IsEnabled(int id) const {
    HWND hwnd = Control(id);
    return hwnd && IsWindowEnabled(hwnd);
}

void Form::SetEnabled(int id, bool enabled) {
    if (HWND hwnd = Control(id)) EnableWindow(hwnd, enabled);
}

std::string Form::Hint(int id) const {
    HWND hwnd = Control(id);
    return hwnd ? hints_.Get(hwnd) : std::string();
}

void Form::SetHint(int id, std::string_view text) {
    if (HWND hwnd = Control(id)) hints_.Set(hwnd, text);
}

void Form::FocusControl(int id) {
    if (HWND hwnd = Control(id)) SetFocus(hwnd);
}

bool Form::IsVisible() const {
    return Handle() && IsWindowVisible(Handle());
}

void Form::Show() {
    if (!Handle()) return;
    ShowWindow(Handle(), SW_SHOW);
    BringWindowToTop(Handle());
    SetForegroundWindow(Handle());
}

void Form::Hide() {
    if (Handle()) ShowWindow(Handle(), SW_HIDE);
}

void Form::Close() {
    Destroy();
}

void Form::CloseLater() {
    Hide();
    Post([this] { Close(); });
}

void Form::ClearItems(int id) {
    if (HWND hwnd = Control(id)) SendMessageW(hwnd, CB_RESETCONTENT, 0, 0);
}

void Form::AddItem(int id, std::string_view text) {
    const std::wstring item = Widen(text);
    if (HWND hwnd = Control(id)) SendMessageW(hwnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
}

std::vector<std::string> Form::Items(int id) const {
    std::vector<std::string> items;
    HWND hwnd = Control(id);
    if (!hwnd) return items;
    LRESULT count = SendMessageW(hwnd, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT length = SendMessageW(hwnd, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
        std::wstring item(static_cast<size_t>(std::max<LRESULT>(length, 0)) + 1, L'\0');
        SendMessageW(hwnd, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item.data()));
        item.resize(static_cast<size_t>(std::max<LRESULT>(length, 0)));
        items.push_back(Narrow(item));
    }
    return items;
}

int Form::SelectedIndex(int id) const {
    HWND hwnd = Control(id);
    return hwnd ? static_cast<int>(SendMessageW(hwnd, CB_GETCURSEL, 0, 0)) : -1;
}

void Form::SetSelectedIndex(int id, int index) {
    if (HWND hwnd = Control(id)) SendMessageW(hwnd, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int Form::Position(int id) const {
    HWND hwnd = Control(id);
    return hwnd ? static_cast<int>(SendMessageW(hwnd, PBM_GETPOS, 0, 0)) : 0;
}

void Form::SetPosition(int id, int position) {
    if (HWND hwnd = Control(id)) SendMessageW(hwnd, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

std::vector<std::string> Form::Lines(int id) const {
    std::vector<std::string> lines;
    HWND hwnd = Control(id);
    if (!hwnd) return lines;
    int count = static_cast<int>(SendMessageW(hwnd, EM_GETLINECOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        LRESULT start = SendMessageW(hwnd, EM_LINEINDEX, static_cast<WPARAM>(i), 0);
        LRESULT length = SendMessageW(hwnd, EM_LINELENGTH, static_cast<WPARAM>(start), 0);
        // EM_GETLINE reads its buffer size from the buffer's first word.
        std::wstring line(static_cast<size_t>(std::max<LRESULT>(length, 0)) + 1, L'\0');
        *reinterpret_cast<WORD*>(line.data()) = static_cast<WORD>(std::min<LRESULT>(length, 0xFFFF));
        LRESULT got =
            SendMessageW(hwnd, EM_GETLINE, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(line.data()));
        line.resize(static_cast<size_t>(std::max<LRESULT>(got, 0)));
        lines.push_back(Narrow(line));
    }
    if (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
}

void Form::Bind(int id, UINT code, std::function<void()> handler) {
    handlers_[{id, code}] = std::move(handler);
}

HFONT Form::Font() const {
    return DefaultFont();
}

void Form::AddTimer(Timer& timer) {
    timers_.push_back(&timer);
}

void Form::RemoveTimer(Timer& timer) {
    std::erase(timers_, &timer);
}

void Form::RunHandler(int id, UINT code) {
    auto found = handlers_.find({id, code});
    if (found == handlers_.end() || !found->second) return;
    auto handler = found->second; // a copy: the handler may rebind or destroy the form
    handler();
}

LRESULT Form::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        // Controls name themselves in lParam; menu items and accelerators do not.
        RunHandler(LOWORD(wParam), lParam ? HIWORD(wParam) : 0);
        return 0;
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        RunHandler(static_cast<int>(header->idFrom), header->code);
        return 0;
    }
    case WM_CTLCOLORSTATIC: {
        // The system's colours first, then a fixed black for the labels that ask for it.
        const auto label = reinterpret_cast<HWND>(lParam);
        auto found = controls_.find(GetDlgCtrlID(label));
        LRESULT brush = Window::HandleMessage(message, wParam, lParam);
        if (found != controls_.end() && found->second.hwnd == label && (found->second.flags & Black))
            SetTextColor(reinterpret_cast<HDC>(wParam), RGB(0, 0, 0));
        return brush;
    }
    case WM_TIMER:
        for (Timer* timer : timers_) {
            if (timer->Id() == wParam) {
                timer->Fire();
                break;
            }
        }
        return 0;
    case WM_DESTROY:
        Application::RemoveModeless(Handle());
        if (mainForm_) PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY:
        controls_.clear();
        hints_.Detach();
        break;
    }
    return Window::HandleMessage(message, wParam, lParam);
}

} // namespace tarvel::ui
