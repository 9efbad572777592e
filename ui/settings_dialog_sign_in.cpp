// The Security page's log-on method and OAuth 2.0 sign-in: "Log-on" (Password or OAuth 2.0), the
// provider, the client ID, and "Sign in...", which runs a sign-in in the browser on a worker thread.
#include <array>
#include <atomic>
#include <mutex>
#include <thread>
#include <utility>

#include "core/oauth/provider.h"
#include "ui/choice_list.h"
#include "ui/settings_dialog.h"

namespace tarvel::ui {

namespace {

using K = ControlKind;
using S = SettingsDialog;

// Below the log-on rows of the main table (settings_dialog.cpp), on the Security page.
constexpr std::array<ControlDef<S>, 8> SignInControls{{
    {S::logOnLabel, "logOnLabel", K::Label, 168, 24, 0, 0, "Log-on", NoTabOrder, NoFlags, nullptr, nullptr,
     S::securityPage},
    {S::logOnList, "logOnList", K::DropDownList, 168, 40, 120, 21, nullptr, 1, NoFlags,
     "How to log on: with a password, or with a sign-in in your browser (OAuth 2.0: Microsoft 365, "
     "Outlook.com, Google).",
     &S::LogOnPicked, S::securityPage},
    {S::providerLabel, "providerLabel", K::Label, 15, 116, 0, 0, "Provider", NoTabOrder, Hidden, nullptr,
     nullptr, S::securityPage},
    {S::providerList, "providerList", K::DropDownList, 15, 132, 120, 21, nullptr, 4, Hidden,
     "Who signs you in: Microsoft (Microsoft 365 and Outlook.com), Google, or Other (the addresses in "
     "zembrix.ini).",
     &S::ProviderPicked, S::securityPage},
    {S::clientIdLabel, "clientIdLabel", K::Label, 168, 116, 0, 0, "Client ID", NoTabOrder, Hidden, nullptr,
     nullptr, S::securityPage},
    {S::clientIdEdit, "clientIdEdit", K::Edit, 168, 132, 145, 21, "", 5, Hidden,
     "The client ID your organisation or you registered for Tarvel Pro with the provider.", nullptr,
     S::securityPage},
    {S::signInButton, "signInButton", K::Button, 15, 162, 75, 25, "Sign &in...", 6, Hidden,
     "Signs in now in your browser; Tarvel Pro keeps the sign-in in Windows Credential Manager.",
     &S::SignInClick, S::securityPage},
    {S::signInStatus, "signInStatus", K::Label, 98, 168, 215, 13, "Not signed in", NoTabOrder, Hidden,
     nullptr, nullptr, S::securityPage},
}};

// In the order of the drop-down lists.
constexpr LogOnMethod LogOnChoices[] = {LogOnMethod::Password, LogOnMethod::OAuth2};
constexpr const char* LogOnTexts[] = {"Password", "OAuth 2.0"};
constexpr OAuthProvider ProviderChoices[] = {OAuthProvider::Microsoft, OAuthProvider::Google,
                                             OAuthProvider::Other};

// "STARTTLS" in the connection security list of settings_dialog.cpp.
constexpr int StartTlsChoice = 1;

constexpr const char* SignInCaption = "Sign &in...";
constexpr const char* CancelCaption = "Cancel";

} // namespace

// What the worker and the dialog share: the worker posts its outcome to the dialog while one is there.
struct SettingsDialog::SignInRun {
    std::atomic<bool> cancel{false};
    std::mutex mutex;
    SettingsDialog* dialog = nullptr; // nullptr once the dialog no longer waits for this run
};

bool SettingsDialog::CreateSignInControls() {
    if (!CreateControls<S>(SignInControls)) return false;
    // Its own table stacks it after the password: Tab goes from the connection security to it.
    SetWindowPos(Control(logOnList), Control(securityList), 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    for (int id : {int(logOnList), int(providerList)})
        SendMessageW(Control(id), CB_SETITEMHEIGHT, 0, 13);
    return true;
}

void SettingsDialog::FillSignIn() {
    const SecuritySettings& security = state_.settings.Security;
    ClearItems(logOnList);
    for (const char* text : LogOnTexts)
        AddItem(logOnList, text);
    SetSelectedIndex(logOnList,
                     security.Mode == SecurityMode::None ? 0 : IndexOf(LogOnChoices, security.LogOn));
    ClearItems(providerList);
    for (OAuthProvider provider : ProviderChoices)
        AddItem(providerList, oauth::ProviderText(provider));
    SetSelectedIndex(providerList, IndexOf(ProviderChoices, security.OAuth2.Provider));
    SetText(clientIdEdit, security.OAuth2.ClientId);
    ShowSignInState();
}

LogOnMethod SettingsDialog::ChosenLogOn() const {
    return ChoiceAt(LogOnChoices, SelectedIndex(logOnList));
}

OAuthProvider SettingsDialog::ChosenProvider() const {
    return ChoiceAt(ProviderChoices, SelectedIndex(providerList));
}

OAuth2Settings SettingsDialog::FieldsOAuth2() const {
    OAuth2Settings settings = state_.settings.Security.OAuth2;
    settings.Provider = ChosenProvider();
    settings.ClientId = Text(clientIdEdit);
    return settings;
}

void SettingsDialog::EnableSignInFields(bool secure) {
    // OAuth 2.0 sends a bearer token: it is offered only over an encrypted connection.
    SetEnabled(logOnList, secure);
    SetEnabled(logOnLabel, secure);
    const bool oauth = secure && ChosenLogOn() == LogOnMethod::OAuth2;
    for (int id : {int(providerLabel), int(providerList), int(clientIdLabel), int(clientIdEdit),
                   int(signInButton), int(signInStatus)})
        ShowWindow(Control(id), oauth ? SW_SHOWNA : SW_HIDE);
}

void SettingsDialog::LogOnPicked() {
    EnableLogOnFields();
    if (ChosenLogOn() == LogOnMethod::OAuth2) ProviderPicked(); // the provider shown counts as chosen
    ShowSignInState();
}

void SettingsDialog::ProviderPicked() {
    // A provider's accounts send through its own submission server: offered while no server is set.
    const bool oauth = ChosenLogOn() == LogOnMethod::OAuth2 && ChosenSecurity() != SecurityMode::None;
    const std::string_view server = oauth::ProviderSmtpServer(ChosenProvider());
    if (oauth && !server.empty() && Text(serverEdit).empty()) {
        SetText(serverEdit, server);
        SetText(portEdit, "587");
        SetSelectedIndex(securityList, StartTlsChoice);
        EnableLogOnFields();
    }
    ShowSignInState();
}

void SettingsDialog::ShowSignInState() {
    if (signIn_) return; // the sign-in under way owns the line
    const std::string user = Text(userEdit);
    const bool signedIn = !user.empty() && services_.isSignedIn && services_.isSignedIn(FieldsOAuth2(), user);
    SetText(signInStatus, signedIn ? "Signed in as " + user : std::string("Not signed in"));
}

void SettingsDialog::SignInClick() {
    if (signIn_) { // the button reads "Cancel" while a sign-in runs
        EndSignIn();
        ShowSignInState();
        return;
    }
    const std::string user = Text(userEdit);
    if (user.empty()) return Refuse(userEdit, "Enter the user name to sign in with.");
    if (!services_.signInWithBrowser) return;
    auto run = std::make_shared<SignInRun>();
    run->dialog = this;
    signIn_ = run;
    SetText(signInButton, CancelCaption);
    SetText(signInStatus, oauth::sign_in_text::Waiting);
    // Detached: the sign-in may wait minutes for the browser, and the dialog may close meanwhile; it then
    // cancels the run and the outcome is dropped.
    std::thread([run, signIn = services_.signInWithBrowser, settings = FieldsOAuth2(), user] {
        oauth::SignIn::Observer observer;
        observer.cancel = &run->cancel;
        oauth::TokenOutcome outcome = signIn(settings, user, observer);
        std::lock_guard lock(run->mutex);
        if (!run->dialog) return;
        SettingsDialog* dialog = run->dialog;
        dialog->Post([dialog, run, outcome = std::move(outcome)] {
            if (dialog->signIn_ == run) dialog->SignInEnded(outcome);
        });
    }).detach();
}

void SettingsDialog::SignInEnded(const oauth::TokenOutcome& outcome) {
    signIn_.reset();
    SetText(signInButton, SignInCaption);
    ShowSignInState();
    if (outcome.end == oauth::TokenEnd::Failed)
        ShowMessage(services_.messageBox, Handle(), outcome.error, MB_OK | MB_ICONWARNING);
}

void SettingsDialog::EndSignIn() {
    if (!signIn_) return;
    {
        std::lock_guard lock(signIn_->mutex);
        signIn_->dialog = nullptr;
    }
    signIn_->cancel = true;
    signIn_->cancel.notify_all();
    signIn_.reset();
    if (Handle()) SetText(signInButton, SignInCaption);
}

} // namespace tarvel::ui
