// What the program asks of Windows wherever a test must answer in its place: boxes, dialogs and menus
// that wait for a person, the shell, the address lookup, the registry, the phone book and Credential
// Manager, and the OAuth 2.0 sign-in. The program fills it with SystemServices() (app/system_services.h) and
// hands it to what it makes; the tests hand in one fake (tests/support/fake_services.h).
#pragma once

#include <windows.h>

#include <commdlg.h>
#include <shellapi.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/config/settings.h"
#include "core/oauth/sign_in_flow.h"
#include "core/send/dialler.h"
#include "platform/certificate_check.h"
#include "platform/dialup.h"
#include "win/file_dialog.h"
#include "win/message_box.h"

namespace tarvel {

struct Services {
    // The desktop.
    ui::MessageBoxCall messageBox;   // every message box; returns the button pressed (IDOK...)
    ui::OpenFileCall openFileDialog; // the file-open dialog (GetOpenFileNameW)
    // Pops up a menu for its owner window; the real one runs a modal loop of its own.
    std::function<void(HMENU menu, int x, int y, HWND owner)> popupMenu;
    std::function<BOOL(DWORD message, NOTIFYICONDATAW* data)> shellNotify; // Shell_NotifyIconW
    std::function<void()> openHomePage;

    // Sending.
    // On the connect's thread, just before the server's name is looked up: a lookup may take seconds, and
    // tests stand in for such a slow name server here.
    std::function<void()> beforeAddressLookup;
    // Whether to trust a server certificate that failed the check, asked on the window's thread with the
    // modal dialog of ui/certificate_question.h; true for trust. The dialog closes unanswered (false) as
    // soon as `ended` says the send that asked is over.
    std::function<bool(HWND owner, const std::string& server, const CertificateReport& report,
                       const std::function<bool()>& ended)>
        certificateQuestion;
    Dialler dialler;

    // The registry, the phone book and Credential Manager.
    std::function<void()> recordProgramLocation;
    std::function<void(Settings&)> importMailerDefaults;
    std::function<bool()> registerMailtoHandler; // false: the registration failed
    std::function<void(RasEntryList&, std::optional<std::string_view> wantedName)> fillRasEntries;
    // The log-on password, kept in Credential Manager under a target per user and server.
    std::function<std::optional<std::string>(const std::string& target)> readPassword;
    // Empty on success, else why not; an empty password removes the entry.
    std::function<std::string(const std::string& target, const std::string& password)> storePassword;

    // The OAuth 2.0 sign-in in the system browser (core/oauth/sign_in_flow.h): one for the whole run, so
    // that the access token it keeps in memory serves every send.
    std::shared_ptr<oauth::SignIn> signIn;
    // The Security page's uses of it: whether a refresh token is stored for the user, and the "Sign
    // in..." button's sign-in (blocks until the browser comes back or the observer's cancel is set: call
    // it on a worker).
    std::function<bool(const OAuth2Settings& settings, const std::string& user)> isSignedIn;
    std::function<oauth::TokenOutcome(const OAuth2Settings& settings, const std::string& user,
                                      const oauth::SignIn::Observer& observer)>
        signInWithBrowser;
};

} // namespace tarvel
