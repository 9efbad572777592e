// SettingsDialog: the modeless dialog that edits the mail server, the user's own address,
// the dial-up choice and the connection's security and log-on (a password, or an OAuth 2.0 sign-in in the
// browser), offers the "mailto:" registration, and has the settings saved on OK.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/services.h"
#include "win/form.h"
#include "ui/shared_state.h"

namespace tarvel::ui {

// The longest phone-book entry name; a longer stored entry is cut to it before the entries are read.
inline constexpr std::size_t MaxDialEntryName = 256;

class SettingsDialog : public Form {
public:
    // Control ids, in the declared order of the controls.
    enum Id : int {
        pageTabs = 101,
        basicPage,
        dialUpPage,
        serverLabel,
        serverEdit,
        emailLabel,
        emailEdit,
        userInfoHeading,
        serverHeading,
        dialUpCheck,
        dialUpHeading,
        entryLabel,
        entryList,
        okButton,
        cancelButton,
        mailToButton,
        portEdit,
        portLabel,
        dialPasswordEdit,
        dialPasswordLabel,
        // The "Security" page.
        securityPage,
        securityHeading,
        securityLabel,
        securityList,
        userLabel,
        userEdit,
        passwordLabel,
        passwordEdit,
        // The Security page's log-on method and its OAuth 2.0 sign-in (settings_dialog_sign_in.cpp).
        logOnLabel,
        logOnList,
        providerLabel,
        providerList,
        clientIdLabel,
        clientIdEdit,
        signInButton,
        signInStatus,
    };

    SettingsDialog(SharedState& state, Services services);
    ~SettingsDialog() override;

    // Creates the dialog hidden, with `owner` (nullptr: none) as its owner, and runs FormCreate; false
    // when the window cannot be made.
    bool Create(HWND owner);

    // Event handlers.
    void FormCreate();
    void EntryPicked();
    void OkClick();
    void CancelClick();
    void MailToClick();
    void PageChanged();
    void SecurityPicked();
    void LogOnPicked();
    void ProviderPicked();
    // "Sign in...": a sign-in in the browser on a worker; while it runs the button cancels it.
    void SignInClick();

    // The page shown (0: "Basic settings", 1: "Dial Up", 2: "Security").
    int ActivePage() const;
    void SetActivePage(int page);

protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    struct SignInRun; // a sign-in under way, shared with its worker

    SecurityMode ChosenSecurity() const;
    void EnableLogOnFields();
    // The OAuth 2.0 part of the Security page, in settings_dialog_sign_in.cpp.
    bool CreateSignInControls();
    void FillSignIn();
    void EnableSignInFields(bool secure);
    LogOnMethod ChosenLogOn() const;
    OAuthProvider ChosenProvider() const;
    // The settings a sign-in uses: the file's, with the page's provider and client ID.
    OAuth2Settings FieldsOAuth2() const;
    void ShowSignInState();
    void SignInEnded(const oauth::TokenOutcome& outcome);
    void EndSignIn(); // cancels a sign-in under way and forgets it
    // A value the files cannot hold: says why, and shows the page and the field that holds it.
    void Refuse(int control, const std::string& message);
    // Writes zembrix.cfg, zembrix.ini where there is anything to keep, and the password to its store;
    // each failure is shown (to `owner`, as this dialog is closing) and the rest still saved.
    void Save(HWND owner, SecuritySettings security);

    SharedState& state_;
    Services services_;
    std::shared_ptr<SignInRun> signIn_;
};

// The tray menu's Properties and the first run: makes the dialog when none exists (SettingsOpen clear), else
// reuses the open one; restores a minimised owner and shows the dialog in front. Returns the dialog,
// nullptr when it could not be made.
SettingsDialog* OpenSettings(std::unique_ptr<SettingsDialog>& form, SharedState& state, HWND owner,
                             Services services);

} // namespace tarvel::ui
