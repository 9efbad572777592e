// The about box: its layout, centring, the address line that cannot be edited and opens the shortcut,
// and its one-instance opening.
#include "ui/about_box.h"

#include <shellapi.h>

#include <array>

#include "core/config/config.h"
#include "tarvel_version.h"

namespace tarvel::ui {

namespace {

using K = ControlKind;
using A = AboutBox;

constexpr FormLayout AboutLayout{
    "TfrmAbout", "About Tarvel Pro", WS_POPUP | WS_CAPTION | WS_CLIPCHILDREN, 0, 0, 0, 344, 166};

constexpr const char* VersionText = "Ver: " TARVEL_VERSION;
constexpr const char* CloseCaption = "&Close";
constexpr const char* ContinueCaption = "&Continue";

// id, name, kind, left, top, width, height, caption, tab order, flags, hint, handler
constexpr std::array<ControlDef<A>, 8> AboutControls{{
    {A::titleLabel, "titleLabel", K::Label, 129, 7, 0, 0, "Tarvel Pro", NoTabOrder, Bold, nullptr, nullptr},
    {A::versionLabel, "versionLabel", K::Label, 112, 21, 113, 16, "", NoTabOrder, Centered, nullptr, nullptr},
    {A::blurbLabel, "blurbLabel", K::Label, 101, 43, 0, 0,
     "Tarvel Pro: a small e-mail sender that waits in your tray.", NoTabOrder, Centered, nullptr, nullptr},
    {A::helpLabel, "helpLabel", K::Label, 13, 59, 0, 0,
     "For help on an item, just let the mouse pointer rest over it.", NoTabOrder, Centered, nullptr, nullptr},
    {A::homePageLabel, "homePageLabel", K::Label, 13, 75, 0, 0,
     "See the Tarvel home page for the latest updates, changes ", NoTabOrder, Centered, nullptr, nullptr},
    {A::troubleshootingLabel, "troubleshootingLabel", K::Label, 13, 91, 0, 0,
     "and help with troubleshooting. Remember to check back often.", NoTabOrder, Centered, nullptr, nullptr},
    {A::homePageLine, "homePageLine", K::Edit, 32, 115, 297, 16, HomePageLine, 1, NoFlags,
     "Click here to start your browser!", &A::HomePageLineChanged},
    {A::closeButton, "closeButton", K::Button, 132, 136, 75, 25, CloseCaption, 0, NoFlags,
     "Closes this about box.", &A::CloseClick},
}};

constexpr UINT_PTR AddressLineSubclass = 1;

// The address line's background: silver, the colour of the light grey stock brush.
constexpr COLORREF Silver = RGB(192, 192, 192);

int OuterWidth(HWND hwnd) {
    RECT r{};
    GetWindowRect(hwnd, &r);
    return r.right - r.left;
}

} // namespace

AboutBox::AboutBox(SharedState& state, Services services) : state_(state), services_(std::move(services)) {}

AboutBox::~AboutBox() {
    Destroy();
}

bool AboutBox::Create(HWND owner) {
    if (!CreateForm(AboutLayout, owner)) return false;
    if (!CreateControls<A>(AboutControls)) return false;
    HWND line = Control(homePageLine);
    // A line of text rather than a field: no sunken edge.
    SetWindowLongPtrW(line, GWL_EXSTYLE, GetWindowLongPtrW(line, GWL_EXSTYLE) & ~WS_EX_CLIENTEDGE);
    SetWindowPos(line, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
    // An edit control has no click event and no cursor of its own choice: both come from a subclass.
    SetWindowSubclass(line, AddressLineProc, AddressLineSubclass, reinterpret_cast<DWORD_PTR>(this));
    FormCreate();
    return true;
}

void AboutBox::FormCreate() {
    state_.AboutOpen = true;
    RECT outer{};
    GetWindowRect(Handle(), &outer);
    const int width = outer.right - outer.left;
    const int height = outer.bottom - outer.top;
    SetWindowPos(Handle(), nullptr, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    SetText(versionLabel, VersionText);
    for (int id : {versionLabel, titleLabel, blurbLabel, helpLabel, homePageLabel, troubleshootingLabel,
                   homePageLine, closeButton}) {
        HWND control = Control(id);
        RECT place{};
        GetWindowRect(control, &place);
        MapWindowPoints(nullptr, Handle(), reinterpret_cast<POINT*>(&place), 2);
        SetWindowPos(control, nullptr, (width - OuterWidth(control)) / 2, place.top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void AboutBox::FormActivate() {
    SetText(closeButton, state_.settings.FirstRun ? ContinueCaption : CloseCaption);
}

void AboutBox::HomePageLineChanged() {
    // Setting the text raises the change again; it then matches and the second round stops here.
    if (Text(homePageLine) != HomePageLine) SetText(homePageLine, HomePageLine);
}

void AboutBox::HomePageLineClick() {
    services_.openHomePage();
}

void AboutBox::CloseClick() {
    state_.AboutOpen = false;
    CloseLater();
}

LRESULT AboutBox::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE) FormActivate();
        break;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
        if (reinterpret_cast<HWND>(lParam) == Control(homePageLine)) {
            HDC dc = reinterpret_cast<HDC>(wParam);
            SetBkColor(dc, Silver);
            return reinterpret_cast<LRESULT>(GetStockObject(LTGRAY_BRUSH));
        }
        break;
    }
    return Form::HandleMessage(message, wParam, lParam);
}

LRESULT CALLBACK AboutBox::AddressLineProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                           DWORD_PTR self) {
    switch (message) {
    case WM_SETCURSOR:
        if (LOWORD(lParam) == HTCLIENT) {
            SetCursor(LoadCursorW(nullptr, IDC_UPARROW));
            return TRUE;
        }
        break;
    case WM_LBUTTONUP: {
        LRESULT result = DefSubclassProc(hwnd, message, wParam, lParam);
        reinterpret_cast<AboutBox*>(self)->HomePageLineClick();
        return result;
    }
    case WM_NCDESTROY:
        RemoveWindowSubclass(hwnd, AddressLineProc, id);
        break;
    }
    return DefSubclassProc(hwnd, message, wParam, lParam);
}

AboutBox* OpenAbout(std::unique_ptr<AboutBox>& form, SharedState& state, HWND owner, Services services) {
    AboutBox* box = OpenOnce(form, state.AboutOpen, owner,
                             [&] { return std::make_unique<AboutBox>(state, std::move(services)); });
    if (box) box->Show();
    return box;
}

} // namespace tarvel::ui
