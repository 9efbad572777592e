// frmMain: its layout, creation, the tray icon and menu, and the handling of the compose fields.
#include "ui/vorpek.h"

#include <array>

#include "res/resource.h"
#include "ui/certificate_trust.h"
#include "ui/file_dialog.h"
#include "ui/messages.h"
#include "ui/namelist.h"

namespace tarvel::ui {

namespace {

using K = ControlKind;
using M = TfrmMain;

// The window: single fixed border, no border icons.
constexpr FormLayout MainLayout{
    "TfrmMain", "Tarvel Pro", WS_OVERLAPPED | WS_CAPTION | WS_CLIPCHILDREN, 0, 176, 130, 357, 360};

constexpr const char* TrayHint = "Tarvel Pro";
constexpr const char* AttachDialogTitle = "Select file to attach";
constexpr const char* NameHint = "Select the name of the person you want to send mail to or enter a new.";
constexpr const char* EmailHint = "Enter the e-mail of the person you want to send mail to. You can enter "
                                  "multiple and separate them with ;";

// id, name, kind, left, top, width, height, caption, tab order, flags, hint, handler
constexpr std::array<ControlDef<M>, 16> MainControls{{
    {M::Label1, "Label1", K::Label, 9, 8, 0, 0, "Name", NoTabOrder, NoFlags, nullptr, nullptr},
    {M::Label4, "Label4", K::Label, 9, 32, 0, 0, "E-mail", NoTabOrder, NoFlags, nullptr, nullptr},
    {M::Label2, "Label2", K::Label, 9, 56, 0, 0, "Subject", NoTabOrder, NoFlags, nullptr, nullptr},
    {M::Label5, "Label5", K::Label, 9, 80, 0, 0, "Attach file", NoTabOrder, NoFlags, nullptr, nullptr},
    {M::edsName, "edsName", K::ComboBox, 60, 3, 288, 21, "", 0, NoFlags, NameHint, &M::edsNameClick},
    {M::edsEmail, "edsEmail", K::Edit, 60, 27, 289, 21, "", 1, NoFlags, EmailHint, &M::edsEmailChange},
    {M::edsSubj, "edsSubj", K::Edit, 60, 51, 289, 21, "", 2, NoFlags, "The subject of the e-mail to be sent.",
     nullptr},
    {M::edsAttach, "edsAttach", K::Edit, 60, 75, 213, 21, "", 9, NoFlags, nullptr, nullptr},
    {M::Button1, "Button1", K::Button, 280, 76, 69, 21, "&Browse", 11, NoFlags, nullptr, &M::Button1Click},
    {M::edsMemo, "edsMemo", K::Memo, 8, 100, 341, 201, "", 3, NoFlags, "The body of the e-mail to be sent!",
     nullptr},
    {M::lblProgress, "lblProgress", K::Label, 12, 308, 0, 0, "Waiting...", NoTabOrder, NoFlags, "Waiting...",
     nullptr},
    {M::ProgressBar1, "ProgressBar1", K::ProgressBar, 176, 306, 173, 17, nullptr, 10, NoFlags, nullptr,
     nullptr},
    {M::cmdMake, "cmdMake", K::Button, 8, 332, 65, 21, "&Send", 4, Disabled, "Sends the composed e-mail.",
     &M::cmdMakeClick},
    {M::cmdAdd, "cmdAdd", K::Button, 100, 332, 65, 21, "&Add", 5, Disabled,
     "Adds the name and e-mail to the name list.", &M::cmdAddClick},
    {M::cmdDel, "cmdDel", K::Button, 192, 332, 65, 21, "&Delete", 6, Disabled, "Deletes the selected person.",
     &M::cmdDelClick},
    {M::cmdMin, "cmdMin", K::Button, 284, 332, 65, 21, "&Close", 7, NoFlags, "Minimizes the application.",
     &M::cmdMinClick},
}};

// id, name, caption (none: a separator), handler, default item
constexpr std::array<MenuItemDef<M>, 5> PopupMenu1Items{{
    {M::ShowPelvane1, "ShowPelvane1", "&Show Tarvel Pro", &M::ShowPelvane1Click, false},
    {M::AboutOndrix1, "AboutOndrix1", "&About Tarvel Pro", &M::AboutOndrix1Click, false},
    {M::N1, "N1", nullptr, nullptr, false},
    {M::Properties1, "Properties1", "&Properties", &M::Properties1Click, false},
    {M::Close1, "Close1", "&Close", &M::Close1Click, true},
}};

constexpr UINT_PTR Timer1Id = 1;
constexpr UINT_PTR Timer2Id = 2;

} // namespace

Hook<void(HMENU menu, int x, int y, HWND owner)> PopupMenuHook{[](HMENU menu, int x, int y, HWND owner) {
    TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON, x, y, 0, owner, nullptr);
    // The shell's known quirk: the menu needs a message after it to go away for good.
    PostMessageA(owner, WM_NULL, 0, 0);
}};

void TrimWorkingSet() {
    SetProcessWorkingSetSize(GetCurrentProcess(), static_cast<SIZE_T>(-1), static_cast<SIZE_T>(-1));
}

TfrmMain::TfrmMain(Settings& settings, MessageList& messages, MainOptions options, Dialler dialler)
    : settings_(settings), messages_(messages), options_(std::move(options)),
      session_(tls_, messages_, send_),
      timer1_(*this, Timer1Id, options_.timer1Interval, [this] { Timer1Timer(); }),
      timer2_(*this, Timer2Id, options_.timer2Interval, [this] { Timer2Timer(); }),
      flow_(*this, tls_, session_, send_, messages_, settings_, std::move(dialler),
            [this](std::function<void()> work) { Post(std::move(work)); }) {
    flow_.SetTimeoutTicks(options_.timeoutTicks);
    flow_.SecurityFor = [this](const std::string& server) {
        return SecurityForSend(settings_.Security, server);
    };
    tls_.AskTrust = [this](const std::string& server, const CertificateReport& report) {
        return flow_.AskUser([&] {
            return AskCertificateTrust(*this, settings_.Security, options_.securityPath, server, report);
        });
    };
    sockets1_.SetMaximumReceiveLength(8192);
    sockets1_.OnDataAvailable = [this](TSockets& s, int socket) { DataAvailable(s, socket); };
    sockets1_.OnSessionClosed = [this](TSockets& s, int socket) { Sockets1SessionClosed(s, socket); };
    sockets1_.OnErrorOccurred = [this](TSockets& s, int socket, int error, const std::string& msg) {
        ErrorOccurred(s, socket, error, msg);
    };
}

TfrmMain::~TfrmMain() {
    // The flow, a member, stops what is still being written and joins its workers after this body.
    send_.SendAborted.store(true);
    Destroy();
}

bool TfrmMain::Create() {
    FormLayout layout = MainLayout;
    layout.classIcon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_MAINICON));
    if (!CreateForm(layout)) return false;
    SetMainForm(true);
    if (!CreateControls<M>(MainControls) || !CreateMenu<M>(popupMenu1_, PopupMenu1Items)) return false;
    // Explorer announces a restart with this message; the icon must then be added again.
    taskbarCreated_ = RegisterWindowMessageA("TaskbarCreated");
    FormCreate();
    return true;
}

void TfrmMain::FormCreate() {
    taskIcon_.SetHandle(Handle());
    taskIcon_.SetHint(TrayHint);
    TIcon image;
    // A missing or unreadable image file leaves the program's own icon in the tray.
    if (!image.LoadFromFile(options_.exeFolder + "zembrix.ico")) image.LoadFromResource(IDI_MAINICON);
    taskIcon_.SetIcon(image);
    taskIcon_.SetEnabled(true);

    // The compose fields are empty at creation: filling the names is all there is to do.
    RefreshNameList(*this, settings_);
    if (!options_.mailToMode) {
        // Again: in tray mode the icon is the only way to the window, so an add the shell refused above
        // gets a second try.
        taskIcon_.SetEnabled(true);
        Hide();
    } else {
        SetText(edsEmail, options_.mailToEmail);
        SetText(edsSubj, options_.mailToSubject);
        if (!options_.mailToBody.empty()) SetText(edsMemo, options_.mailToBody);
        if (!options_.mailToStatus.empty()) ShowStatus(options_.mailToStatus);
    }
    TrimWorkingSet();
}

void TfrmMain::ShowStatus(std::string_view text) {
    SetText(lblProgress, text);
    SetHint(lblProgress, text);
}

void TfrmMain::edsEmailChange() {
    bool any = !Text(edsEmail).empty();
    // A send under way keeps its Cancel, whatever the name list or the user did to the field.
    SetEnabled(cmdMake, any || flow_.Busy());
    SetEnabled(cmdAdd, any);
    SetEnabled(cmdDel, any);
}

void TfrmMain::Button1Click() {
    std::vector<std::string> files = PickFiles(Handle(), AttachDialogTitle);
    if (files.empty()) return;
    std::string joined;
    for (const std::string& file : files) {
        if (!joined.empty()) joined += ';';
        joined += file;
    }
    std::string current = Text(edsAttach);
    SetText(edsAttach, current.empty() ? joined : current + ";" + joined);
}

void TfrmMain::cmdMinClick() {
    if (options_.mailToMode) {
        Close();
        return;
    }
    Hide();
    TrimWorkingSet();
}

void TfrmMain::ShowPelvane1Click() {
    Show();
}

void TfrmMain::TaskIconClick() {
    Show();
}

void TfrmMain::TaskIconRightClick(int x, int y) {
    // Without the foreground the menu would not close when the user clicks elsewhere.
    SetForegroundWindow(Handle());
    PopupMenuHook(popupMenu1_.Handle(), x, y, Handle());
}

void TfrmMain::Close1Click() {
    timer1_.SetEnabled(false);
    Close();
}

void TfrmMain::edsNameClick() {
    if (Hooks.edsNameClick) Hooks.edsNameClick();
}
void TfrmMain::cmdAddClick() {
    if (Hooks.cmdAddClick) Hooks.cmdAddClick();
}
void TfrmMain::cmdDelClick() {
    if (Hooks.cmdDelClick) Hooks.cmdDelClick();
}
void TfrmMain::Properties1Click() {
    if (Hooks.Properties1Click) Hooks.Properties1Click();
}
void TfrmMain::AboutOndrix1Click() {
    if (Hooks.AboutOndrix1Click) Hooks.AboutOndrix1Click();
}

LRESULT TfrmMain::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TRAY_NOTIFY) {
        // The tray icon's callback: only our icon 0, and only a released button counts.
        if (wParam == 0) {
            if (lParam == WM_LBUTTONUP) {
                TaskIconClick();
            } else if (lParam == WM_RBUTTONUP) {
                POINT cursor{};
                GetCursorPos(&cursor);
                TaskIconRightClick(cursor.x, cursor.y);
            }
        }
        return 0;
    }
    if (taskbarCreated_ && message == taskbarCreated_) {
        taskIcon_.ShellRestarted();
        return 0;
    }
    if (message == WM_DESTROY) {
        // The window is going, and the program with it: no tick may act on a send any more.
        timer1_.SetEnabled(false);
        timer2_.SetEnabled(false);
        taskIcon_.SetEnabled(false);
    }
    return Form::HandleMessage(message, wParam, lParam);
}

} // namespace tarvel::ui
