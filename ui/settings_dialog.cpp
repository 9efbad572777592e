// The settings dialog: its layout on three pages, FormCreate with the registry and the phone book, and OK,
// which refuses values the configuration file cannot carry before it copies and saves anything. The
// OAuth 2.0 rows of the Security page are in settings_dialog_sign_in.cpp.
#include "ui/settings_dialog.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <memory>
#include <utility>

#include "core/config/config.h"
#include "platform/credentials.h"
#include "core/config/security_config.h"
#include "platform/registry.h"
#include "res/resource.h"
#include "core/text/wide.h"
#include "ui/choice_list.h"
#include "win/message_box.h"

namespace tarvel::ui {

namespace {

using K = ControlKind;
using S = SettingsDialog;

constexpr int OuterWidth = 344;
constexpr int OuterHeight = 300; // the Security page holds the OAuth 2.0 sign-in's rows too
constexpr DWORD FormStyle = WS_POPUP | WS_CAPTION | WS_CLIPCHILDREN; // no system menu, no buttons

// id, name, kind, left, top, width, height, caption, tab order, flags, hint, handler, parent. The pages
// are placed over the page control's display area once it exists.
constexpr std::array<ControlDef<S>, 28> SettingsControls{{
    {S::pageTabs, "pageTabs", K::TabControl, 5, 4, 328, 235, nullptr, 2, NoFlags, nullptr, &S::PageChanged},
    {S::basicPage, "basicPage", K::Panel, 0, 0, 0, 0, "Basic settings", NoTabOrder, NoFlags, nullptr,
     nullptr},
    {S::dialUpPage, "dialUpPage", K::Panel, 0, 0, 0, 0, "Dial Up", NoTabOrder, Hidden, nullptr, nullptr},
    {S::serverLabel, "serverLabel", K::Label, 15, 92, 0, 0, "SMTP ", NoTabOrder, NoFlags, nullptr, nullptr,
     S::basicPage},
    {S::serverEdit, "serverEdit", K::Edit, 15, 107, 246, 21, "", 2, NoFlags,
     "The IP or domain address to your Send Mail server.", nullptr, S::basicPage},
    {S::emailLabel, "emailLabel", K::Label, 15, 24, 0, 0, "Your main e-mail address", NoTabOrder, NoFlags,
     nullptr, nullptr, S::basicPage},
    {S::emailEdit, "emailEdit", K::Edit, 13, 40, 300, 21, "", 1, NoFlags,
     "The e-mail address that you want the reply to.", nullptr, S::basicPage},
    {S::userInfoHeading, "userInfoHeading", K::Label, 5, 5, 0, 0, "User Info", NoTabOrder, Bold | Black,
     nullptr, nullptr, S::basicPage},
    {S::serverHeading, "serverHeading", K::Label, 5, 73, 0, 0, "Server", NoTabOrder, Bold | Black, nullptr,
     nullptr, S::basicPage},
    {S::dialUpCheck, "dialUpCheck", K::CheckBox, 15, 28, 300, 17, "&Use dialup connection", 0, NoFlags,
     "If you want to use the dial up function. If so Tarvel dials up your ISP when you want to send a mail.",
     nullptr, S::dialUpPage},
    {S::dialUpHeading, "dialUpHeading", K::Label, 5, 5, 0, 0, "Dial up", NoTabOrder, Bold | Black, nullptr,
     nullptr, S::dialUpPage},
    {S::entryLabel, "entryLabel", K::Label, 15, 52, 0, 0, "Use this dialup entry", NoTabOrder, NoFlags,
     nullptr, nullptr, S::dialUpPage},
    {S::entryList, "entryList", K::DropDownList, 15, 68, 186, 21, nullptr, 1, NoFlags,
     "Your RAS entries. If you want to add, edit or delete an entry, do it in your Dial Up Networking "
     "settings.",
     &S::EntryPicked, S::dialUpPage},
    {S::okButton, "okButton", K::Button, 174, 243, 75, 25, "&Ok", 0, NoFlags,
     "Closes this dialog and saves all changes you've made.", &S::OkClick},
    {S::cancelButton, "cancelButton", K::Button, 256, 243, 75, 25, "&Cancel", 1, NoFlags,
     "Closes this dialog and cancels all the changes.", &S::CancelClick},
    {S::mailToButton, "mailToButton", K::Button, 239, 4, 75, 25, "MailTo", 0, NoFlags,
     "Sets Tarvel as your default e-mail program.", &S::MailToClick, S::basicPage},
    {S::portEdit, "portEdit", K::Edit, 268, 107, 45, 21, "", 3, NoFlags,
     "The port number your SMTP server listens on. 25 is default.", nullptr, S::basicPage},
    {S::portLabel, "portLabel", K::Label, 271, 92, 0, 0, "Port nr", NoTabOrder, NoFlags, nullptr, nullptr,
     S::basicPage},
    {S::dialPasswordEdit, "dialPasswordEdit", K::Edit, 16, 108, 185, 21, "", 2, Password | HintHidden,
     "An optional password to your DialUp functions.", nullptr, S::dialUpPage},
    {S::dialPasswordLabel, "dialPasswordLabel", K::Label, 15, 92, 0, 0, "Use this password", NoTabOrder,
     NoFlags, nullptr, nullptr, S::dialUpPage},
    {S::securityPage, "securityPage", K::Panel, 0, 0, 0, 0, "Security", NoTabOrder, Hidden, nullptr, nullptr},
    {S::securityHeading, "securityHeading", K::Label, 5, 5, 0, 0, "Security", NoTabOrder, Bold | Black,
     nullptr, nullptr, S::securityPage},
    {S::securityLabel, "securityLabel", K::Label, 15, 24, 0, 0, "Connection security", NoTabOrder, NoFlags,
     nullptr, nullptr, S::securityPage},
    {S::securityList, "securityList", K::DropDownList, 15, 40, 120, 21, nullptr, 0, NoFlags,
     "How the connection to your server is protected: STARTTLS (usually port 587), SSL/TLS from the first "
     "byte (usually port 465), or None.",
     &S::SecurityPicked, S::securityPage},
    {S::userLabel, "userLabel", K::Label, 15, 70, 0, 0, "User name", NoTabOrder, NoFlags, nullptr, nullptr,
     S::securityPage},
    {S::userEdit, "userEdit", K::Edit, 15, 86, 145, 21, "", 2, NoFlags,
     "The name to log on to your server with. Leave it empty when the server needs no log-on.", nullptr,
     S::securityPage},
    {S::passwordLabel, "passwordLabel", K::Label, 168, 70, 0, 0, "Password", NoTabOrder, NoFlags, nullptr,
     nullptr, S::securityPage},
    {S::passwordEdit, "passwordEdit", K::Edit, 168, 86, 145, 21, "", 3, Password | HintHidden,
     "The password to log on with. Windows keeps it in its Credential Manager, never in a file.", nullptr,
     S::securityPage},
}};

// The connection security choices, in the order of the drop-down list.
constexpr SecurityMode SecurityChoices[] = {SecurityMode::None, SecurityMode::StartTls,
                                            SecurityMode::Implicit};

// The pages in the order of their tabs; each tab is captioned with its page's caption.
constexpr int Pages[] = {S::basicPage, S::dialUpPage, S::securityPage};

// The page that holds a field, for showing it before the field takes the focus.
int PageOf(int id) {
    for (const auto& row : SettingsControls) {
        if (row.id != id) continue;
        const auto page = std::find(std::begin(Pages), std::end(Pages), row.parent);
        return page == std::end(Pages) ? 0 : static_cast<int>(page - std::begin(Pages));
    }
    return 0;
}

} // namespace

SettingsDialog::SettingsDialog(SharedState& state, Services services)
    : state_(state), services_(std::move(services)) {}

SettingsDialog::~SettingsDialog() {
    EndSignIn();
    Destroy();
}

bool SettingsDialog::Create(HWND owner) {
    // The designed size is the outer one; the layer wants the client size that gives it.
    RECT frame{0, 0, 0, 0};
    AdjustWindowRectEx(&frame, FormStyle, FALSE, 0);
    FormLayout layout{"TfrmSettings",
                      "Settings",
                      FormStyle,
                      0,
                      261,
                      163,
                      OuterWidth - (frame.right - frame.left),
                      OuterHeight - (frame.bottom - frame.top)};
    layout.classIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_MAINICON));
    if (!CreateForm(layout, owner)) return false;
    if (!CreateControls<S>(SettingsControls) || !CreateSignInControls()) return false;

    HWND tabs = Control(pageTabs);
    for (std::size_t i = 0; i < std::size(Pages); ++i) {
        std::wstring caption = Widen(Text(Pages[i]));
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = caption.data();
        SendMessageW(tabs, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
    }
    // The pages are siblings laid over the display area. The tab strip comes before them in the tab
    // sequence, so it lies above them; its window region leaves out the display area, so that it
    // neither paints over the pages nor takes their mouse clicks.
    RECT area{};
    GetClientRect(tabs, &area);
    SendMessageW(tabs, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
    RECT whole{};
    GetWindowRect(tabs, &whole);
    UniqueRegion strip(CreateRectRgn(0, 0, whole.right - whole.left, whole.bottom - whole.top));
    const UniqueRegion display(CreateRectRgnIndirect(&area));
    CombineRgn(strip.Get(), strip.Get(), display.Get(), RGN_DIFF);
    if (SetWindowRgn(tabs, strip.Get(), FALSE)) strip.Release(); // the window owns it now
    MapWindowPoints(tabs, Handle(), reinterpret_cast<POINT*>(&area), 2);
    for (int page : Pages)
        SetWindowPos(Control(page), nullptr, area.left, area.top, area.right - area.left,
                     area.bottom - area.top, SWP_NOZORDER | SWP_NOACTIVATE);
    // Tab order of the form: OK, Cancel, the page control's strip, then the fields of its shown page.
    for (int id : {int(securityPage), int(dialUpPage), int(basicPage), int(pageTabs), int(cancelButton),
                   int(okButton)})
        SetWindowPos(Control(id), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    SendMessageW(Control(entryList), CB_SETITEMHEIGHT, 0, 13);
    // ES_PASSWORD alone shows a bullet with version 6 of the common controls.
    SendMessageW(Control(dialPasswordEdit), EM_SETPASSWORDCHAR, '*', 0);
    SendMessageW(Control(passwordEdit), EM_SETPASSWORDCHAR, '*', 0);
    SendMessageW(Control(securityList), CB_SETITEMHEIGHT, 0, 13);
    FormCreate();
    return true;
}

void SettingsDialog::FormCreate() {
    Settings& s = state_.settings;
    state_.SettingsOpen = true;
    services_.recordProgramLocation();
    if (s.FirstRun) services_.importMailerDefaults(s);

    RasEntryList entries;
    const std::string wanted = s.DialEntry.substr(0, MaxDialEntryName);
    services_.fillRasEntries(entries, wanted);
    ClearItems(entryList);
    for (const std::string& name : entries.items)
        AddItem(entryList, name);
    SetSelectedIndex(entryList, entries.selected);

    const bool selected = SelectedIndex(entryList) >= 0;
    if (!selected) s.UseDialup = false;
    SetEnabled(dialUpCheck, selected);
    // The hints came with the controls.
    SetText(serverEdit, s.SMTPServer);
    SetText(emailEdit, s.EmailAddress);
    SetText(portEdit, s.SMTPPort);
    SendMessageW(Control(dialUpCheck), BM_SETCHECK, s.UseDialup ? BST_CHECKED : BST_UNCHECKED, 0);
    SetText(dialPasswordEdit, s.DialPassword);

    ClearItems(securityList);
    for (SecurityMode mode : SecurityChoices)
        AddItem(securityList, SecurityModeText(mode));
    SetSelectedIndex(securityList, IndexOf(SecurityChoices, s.Security.Mode));
    SetText(userEdit, s.Security.User);
    std::optional<std::string> password;
    if (!s.Security.User.empty() && services_.readPassword)
        password = services_.readPassword(CredentialTarget(s.Security.User, s.SMTPServer));
    SetText(passwordEdit, password.value_or(""));
    if (password) WipeSecret(*password);
    FillSignIn();
    EnableLogOnFields();
}

SecurityMode SettingsDialog::ChosenSecurity() const {
    return ChoiceAt(SecurityChoices, SelectedIndex(securityList));
}

void SettingsDialog::EnableLogOnFields() {
    // No log-on over an unencrypted connection.
    const bool secure = ChosenSecurity() != SecurityMode::None;
    for (int id : {int(userLabel), int(userEdit)})
        SetEnabled(id, secure);
    // A sign-in replaces the password.
    for (int id : {int(passwordLabel), int(passwordEdit)})
        SetEnabled(id, secure && ChosenLogOn() == LogOnMethod::Password);
    EnableSignInFields(secure);
}

void SettingsDialog::SecurityPicked() {
    // OAuth 2.0 sends a bearer token: never over a plain connection.
    if (ChosenSecurity() == SecurityMode::None) SetSelectedIndex(logOnList, 0);
    EnableLogOnFields();
    // The plain SMTP port is not where a server takes encrypted submissions: offer the usual one.
    if (Text(portEdit) == "25" || Text(portEdit).empty()) {
        if (ChosenSecurity() == SecurityMode::StartTls) SetText(portEdit, "587");
        if (ChosenSecurity() == SecurityMode::Implicit) SetText(portEdit, "465");
    }
}

void SettingsDialog::EntryPicked() {
    SetEnabled(dialUpCheck, SelectedIndex(entryList) >= 0);
}

void SettingsDialog::OkClick() {
    const int index = SelectedIndex(entryList);
    const std::vector<std::string> items = Items(entryList);
    struct Field {
        int control;
        const char* name;
        std::string value;
        bool allowColon;
    };
    // In the order they are copied; the server and the entry name end at a colon in the file.
    const Field fields[] = {
        {dialPasswordEdit, FieldDialPassword, Text(dialPasswordEdit), true},
        {portEdit, FieldSMTPPort, Text(portEdit), true},
        {serverEdit, FieldSMTPServer, Text(serverEdit), false},
        {emailEdit, FieldEmailAddress, Text(emailEdit), true},
        {entryList, FieldDialEntry,
         index >= 0 && static_cast<std::size_t>(index) < items.size() ? items[static_cast<std::size_t>(index)]
                                                                      : std::string(),
         false},
    };
    for (const Field& field : fields)
        if (auto problem = CheckStorableText(field.name, field.value, field.allowColon))
            return Refuse(field.control, problem->message);

    SecuritySettings security = state_.settings.Security;
    security.Mode = ChosenSecurity();
    security.User = Text(userEdit);
    security.LogOn = ChosenLogOn();
    security.OAuth2 = FieldsOAuth2();
    if (auto problem = CheckStorable(security)) return Refuse(userEdit, problem->message);

    Settings& s = state_.settings;
    s.DialPassword = fields[0].value;
    s.SMTPPort = fields[1].value;
    s.SMTPServer = fields[2].value;
    s.EmailAddress = fields[3].value;
    s.DialEntry = fields[4].value;
    s.UseDialup = SendMessageW(Control(dialUpCheck), BM_GETCHECK, 0, 0) == BST_CHECKED;
    state_.SettingsOpen = false;
    HWND owner = GetWindow(Handle(), GW_OWNER);
    EndSignIn();
    CloseLater();
    Save(owner, std::move(security));
}

void SettingsDialog::Refuse(int control, const std::string& message) {
    ShowMessage(services_.messageBox, Handle(), message, MB_OK | MB_ICONWARNING);
    SetActivePage(PageOf(control));
    FocusControl(control);
}

void SettingsDialog::Save(HWND owner, SecuritySettings security) {
    Settings& s = state_.settings;
    try {
        SaveConfiguration(s, state_.configPath);
    } catch (const ConfigError& error) {
        ShowMessage(services_.messageBox, owner, error.what(), MB_OK | MB_ICONERROR);
    }
    s.Security = std::move(security);
    // Without anything to keep the program stays as it always was: no new file beside it.
    const std::string securityPath = SecurityConfigPath(ExeFolderOf(state_.configPath));
    const bool plain = s.Security.Mode == SecurityMode::None && s.Security.User.empty() &&
                       s.Security.Trusted.empty() && s.Security.OtherLines.empty() &&
                       s.Security.LogOn == LogOnMethod::Password && s.Security.OAuth2.ClientId.empty();
    if (!plain || GetFileAttributesW(Widen(securityPath).c_str()) != INVALID_FILE_ATTRIBUTES) {
        try {
            SaveSecuritySettings(s.Security, securityPath);
        } catch (const ConfigError& error) {
            ShowMessage(services_.messageBox, owner, error.what(), MB_OK | MB_ICONERROR);
        }
    }
    // The password goes to Credential Manager only, and only for a log-on that can use it.
    std::string password = Text(passwordEdit);
    if (!s.Security.User.empty() && s.Security.Mode != SecurityMode::None &&
        s.Security.LogOn == LogOnMethod::Password && services_.storePassword) {
        const std::string failure =
            services_.storePassword(CredentialTarget(s.Security.User, s.SMTPServer), password);
        if (!failure.empty()) ShowMessage(services_.messageBox, owner, failure, MB_OK | MB_ICONERROR);
    }
    WipeSecret(password);
}

void SettingsDialog::CancelClick() {
    EndSignIn();
    CloseLater();
    state_.SettingsOpen = false;
}

void SettingsDialog::MailToClick() {
    if (!services_.registerMailtoHandler())
        ShowMessage(services_.messageBox, Handle(), MailtoRegistrationFailedText, MB_OK);
}

void SettingsDialog::PageChanged() {
    const int active = ActivePage();
    for (int i = 0; i < static_cast<int>(std::size(Pages)); ++i)
        ShowWindow(Control(Pages[i]), i == active ? SW_SHOW : SW_HIDE);
}

int SettingsDialog::ActivePage() const {
    return static_cast<int>(SendMessageW(Control(pageTabs), TCM_GETCURSEL, 0, 0));
}

void SettingsDialog::SetActivePage(int page) {
    // TCM_SETCURSEL sends no TCN_SELCHANGE: the pages follow by hand.
    SendMessageW(Control(pageTabs), TCM_SETCURSEL, static_cast<WPARAM>(page), 0);
    PageChanged();
}

LRESULT SettingsDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    // OK and Cancel are the only ways out: Alt+F4 and the task bar's Close would otherwise destroy the
    // dialog behind SettingsOpen's back.
    if (message == WM_CLOSE) return 0;
    return Form::HandleMessage(message, wParam, lParam);
}

SettingsDialog* OpenSettings(std::unique_ptr<SettingsDialog>& form, SharedState& state, HWND owner,
                             Services services) {
    SettingsDialog* dialog = OpenOnce(form, state.SettingsOpen, owner, [&] {
        return std::make_unique<SettingsDialog>(state, std::move(services));
    });
    if (!dialog) return nullptr;
    if (owner && IsIconic(owner)) ShowWindow(owner, SW_RESTORE);
    dialog->Show();
    return dialog;
}

} // namespace tarvel::ui
