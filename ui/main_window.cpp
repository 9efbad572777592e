// The main window: its layout, creation, the tray icon and menu, and the handling of the compose fields.
#include "ui/main_window.h"

#include <array>

#include "res/resource.h"
#include "ui/certificate_question.h"
#include "win/file_dialog.h"
#include "win/messages.h"
#include "ui/name_list.h"

namespace tarvel::ui {

namespace {

using K = ControlKind;
using M = MainWindow;

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
    {M::nameLabel, "nameLabel", K::Label, 9, 8, 0, 0, "Name", NoTabOrder, NoFlags, nullptr, nullptr},
    {M::emailLabel, "emailLabel", K::Label, 9, 32, 0, 0, "E-mail", NoTabOrder, NoFlags, nullptr, nullptr},
    {M::subjectLabel, "subjectLabel", K::Label, 9, 56, 0, 0, "Subject", NoTabOrder, NoFlags, nullptr,
     nullptr},
    {M::attachLabel, "attachLabel", K::Label, 9, 80, 0, 0, "Attach file", NoTabOrder, NoFlags, nullptr,
     nullptr},
    {M::nameCombo, "nameCombo", K::ComboBox, 60, 3, 288, 21, "", 0, NoFlags, NameHint, &M::NamePicked},
    {M::emailEdit, "emailEdit", K::Edit, 60, 27, 289, 21, "", 1, NoFlags, EmailHint, &M::EmailChanged},
    {M::subjectEdit, "subjectEdit", K::Edit, 60, 51, 289, 21, "", 2, NoFlags,
     "The subject of the e-mail to be sent.", nullptr},
    {M::attachEdit, "attachEdit", K::Edit, 60, 75, 213, 21, "", 9, NoFlags, nullptr, nullptr},
    {M::browseButton, "browseButton", K::Button, 280, 76, 69, 21, "&Browse", 11, NoFlags, nullptr,
     &M::BrowseClick},
    {M::bodyEdit, "bodyEdit", K::Memo, 8, 100, 341, 201, "", 3, NoFlags, "The body of the e-mail to be sent!",
     nullptr},
    {M::statusLabel, "statusLabel", K::Label, 12, 308, 0, 0, "Waiting...", NoTabOrder, NoFlags, "Waiting...",
     nullptr},
    {M::progressBar, "progressBar", K::ProgressBar, 176, 306, 173, 17, nullptr, 10, NoFlags, nullptr,
     nullptr},
    {M::sendButton, "sendButton", K::Button, 8, 332, 65, 21, "&Send", 4, Disabled,
     "Sends the composed e-mail.", nullptr},
    {M::addButton, "addButton", K::Button, 100, 332, 65, 21, "&Add", 5, Disabled,
     "Adds the name and e-mail to the name list.", &M::AddClick},
    {M::deleteButton, "deleteButton", K::Button, 192, 332, 65, 21, "&Delete", 6, Disabled,
     "Deletes the selected person.", &M::DeleteClick},
    {M::closeButton, "closeButton", K::Button, 284, 332, 65, 21, "&Close", 7, NoFlags,
     "Minimizes the application.", &M::CloseClick},
}};

// id, name, caption (none: a separator), handler, default item
constexpr std::array<MenuItemDef<M>, 5> TrayMenuItems{{
    {M::showItem, "showItem", "&Show Tarvel Pro", &M::ShowItemClick, false},
    {M::aboutItem, "aboutItem", "&About Tarvel Pro", &M::AboutItemClick, false},
    {M::menuSeparator, "menuSeparator", nullptr, nullptr, false},
    {M::propertiesItem, "propertiesItem", "&Properties", &M::PropertiesItemClick, false},
    {M::closeItem, "closeItem", "&Close", &M::CloseItemClick, true},
}};

constexpr UINT_PTR IdleTimerId = 1;
constexpr UINT_PTR ProgressTimerId = 2;

} // namespace

void TrimWorkingSet() {
    SetProcessWorkingSetSize(GetCurrentProcess(), static_cast<SIZE_T>(-1), static_cast<SIZE_T>(-1));
}

MainWindow::MainWindow(Settings& settings, MessageList& messages, tarvel::Services services,
                       MainOptions options)
    : settings_(settings), messages_(messages), services_(std::move(services)), options_(std::move(options)),
      socket_(services_), session_(tls_, messages_, send_), tray_(services_.shellNotify),
      idleTimer_(*this, IdleTimerId, options_.idleInterval, [this] { flow_.OnTick(); }),
      progressTimer_(*this, ProgressTimerId, options_.progressInterval, [this] { flow_.OnProgressTick(); }),
      flow_(*this, tls_, session_, send_, messages_, settings_, services_.dialler,
            [this](std::function<void()> work) { Post(std::move(work)); }) {
    flow_.SetTimeoutTicks(options_.timeoutTicks);
    socket_.SetMaximumReceiveLength(8192);
    socket_.OnDataAvailable = [this](ClientSocket&, int socket) { flow_.OnData(socket); };
    socket_.OnSessionClosed = [this](ClientSocket&, int socket) { flow_.OnClose(socket); };
    socket_.OnErrorOccurred = [this](ClientSocket&, int socket, int, const std::string& text) {
        flow_.OnError(socket, text);
    };
}

MainWindow::~MainWindow() {
    // The flow, a member, stops what is still being written and joins its workers after this body.
    send_.SendAborted.store(true);
    Destroy();
}

bool MainWindow::Create() {
    FormLayout layout = MainLayout;
    layout.classIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_MAINICON));
    if (!CreateForm(layout)) return false;
    SetMainForm(true);
    if (!CreateControls<M>(MainControls) || !CreateMenu<M>(trayMenu_, TrayMenuItems)) return false;
    Bind(sendButton, BN_CLICKED, [this] { flow_.OnClick(); });
    // Explorer announces a restart with this message; the icon must then be added again.
    taskbarCreated_ = RegisterWindowMessageW(L"TaskbarCreated");
    FormCreate();
    return true;
}

void MainWindow::FormCreate() {
    tray_.SetHandle(Handle());
    tray_.SetHint(TrayHint);
    IconImage image;
    // A missing or unreadable image file leaves the program's own icon in the tray.
    if (!image.LoadFromFile(options_.exeFolder + "zembrix.ico")) image.LoadFromResource(IDI_MAINICON);
    tray_.SetIcon(image);
    tray_.SetEnabled(true);

    // The compose fields are empty at creation: filling the names is all there is to do.
    RefreshNameList(*this, settings_);
    if (!options_.mailToMode) {
        // Again: in tray mode the icon is the only way to the window, so an add the shell refused above
        // gets a second try.
        tray_.SetEnabled(true);
        Hide();
    } else {
        SetText(emailEdit, options_.mailToEmail);
        SetText(subjectEdit, options_.mailToSubject);
        if (!options_.mailToBody.empty()) SetText(bodyEdit, options_.mailToBody);
        if (!options_.mailToStatus.empty()) ShowStatus(options_.mailToStatus);
    }
    TrimWorkingSet();
}

void MainWindow::ShowStatus(std::string_view text) {
    // The server's words may come from anyone on the path: one line of sane length, no control bytes.
    SetText(statusLabel, StatusLineText(text));
    SetHint(statusLabel, HintText(text));
}

void MainWindow::EmailChanged() {
    bool any = !Text(emailEdit).empty();
    // A send under way keeps its Cancel, whatever the name list or the user did to the field.
    SetEnabled(sendButton, any || flow_.Busy());
    SetEnabled(addButton, any);
    SetEnabled(deleteButton, any);
}

void MainWindow::BrowseClick() {
    std::vector<std::string> files = PickFiles(services_.openFileDialog, Handle(), AttachDialogTitle);
    if (files.empty()) return;
    std::string joined;
    for (const std::string& file : files) {
        if (!joined.empty()) joined += ';';
        joined += file;
    }
    std::string current = Text(attachEdit);
    SetText(attachEdit, current.empty() ? joined : current + ";" + joined);
}

void MainWindow::CloseClick() {
    if (options_.mailToMode) {
        Close();
        return;
    }
    Hide();
    TrimWorkingSet();
}

void MainWindow::ShowItemClick() {
    Show();
}

void MainWindow::TrayClick() {
    Show();
}

void MainWindow::TrayRightClick(int x, int y) {
    // Without the foreground the menu would not close when the user clicks elsewhere.
    SetForegroundWindow(Handle());
    services_.popupMenu(trayMenu_.Handle(), x, y, Handle());
}

void MainWindow::CloseItemClick() {
    idleTimer_.SetEnabled(false);
    Close();
}

void MainWindow::NamePicked() {
    if (Commands.namePicked) Commands.namePicked();
}
void MainWindow::AddClick() {
    if (Commands.add) Commands.add();
}
void MainWindow::DeleteClick() {
    if (Commands.remove) Commands.remove();
}
void MainWindow::PropertiesItemClick() {
    if (Commands.properties) Commands.properties();
}
void MainWindow::AboutItemClick() {
    if (Commands.about) Commands.about();
}

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TRAY_NOTIFY) {
        // The tray icon's callback: only our icon 0, and only a released button counts.
        if (wParam == 0) {
            if (lParam == WM_LBUTTONUP) {
                TrayClick();
            } else if (lParam == WM_RBUTTONUP) {
                POINT cursor{};
                GetCursorPos(&cursor);
                TrayRightClick(cursor.x, cursor.y);
            }
        }
        return 0;
    }
    if (taskbarCreated_ && message == taskbarCreated_) {
        tray_.ShellRestarted();
        return 0;
    }
    if (message == WM_DESTROY) {
        // The window is going, and the program with it: no tick may act on a send any more.
        idleTimer_.SetEnabled(false);
        progressTimer_.SetEnabled(false);
        tray_.SetEnabled(false);
    }
    return Form::HandleMessage(message, wParam, lParam);
}

} // namespace tarvel::ui
