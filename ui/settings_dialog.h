// SettingsDialog: the modeless dialog that edits the mail server, the user's own address,
// the dial-up choice and the connection's security, offers the "mailto:" registration, and has the
// settings saved on OK.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/dialup.h"
#include "win/form.h"
#include "ui/shared_state.h"

namespace tarvel::ui {

// What the dialog asks of the registry and the dial-up manager; tests replace them.
struct SettingsServices {
    std::function<void()> recordProgramLocation;
    std::function<void(Settings&)> importMailerDefaults;
    std::function<bool()> registerMailtoHandler; // false: the registration failed
    std::function<void(RasEntryList&, std::optional<std::string_view> wantedName)> fillRasEntries;
    // The log-on password, kept in Credential Manager under a target per user and server.
    std::function<std::optional<std::string>(const std::string& target)> readPassword;
    // Empty on success, else why not; an empty password removes the entry.
    std::function<std::string(const std::string& target, const std::string& password)> storePassword;

    // The real ones, for the program file at `exePath`.
    static SettingsServices System(const std::string& exePath);
};

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
    };

    SettingsDialog(SharedState& state, SettingsServices services);
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

    // The page shown (0: "Basic settings", 1: "Dial Up", 2: "Security").
    int ActivePage() const;
    void SetActivePage(int page);

protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    SecurityMode ChosenSecurity() const;
    void EnableLogOnFields();

    SharedState& state_;
    SettingsServices services_;
};

// The tray menu's Properties and the first run: makes the dialog when none exists (SettingsOpen clear), else
// reuses the open one; restores a minimised owner and shows the dialog in front. Returns the dialog,
// nullptr when it could not be made.
SettingsDialog* OpenSettings(std::unique_ptr<SettingsDialog>& form, SharedState& state, HWND owner,
                             SettingsServices services);

} // namespace tarvel::ui
