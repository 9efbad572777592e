// The one stand-in for the system in the Win32 tests: every message box, file dialog, menu, tray request,
// home-page request and certificate question is recorded and answered as the test says; the registry, the
// phone book, Credential Manager and the sign-in are stand-ins that count their calls. Make() hands it to
// what is under test; this object must outlive what it was handed to.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/services.h"
#include "ui/tray_icon.h"

namespace tarvel::test {

class FakeSystem {
public:
    struct Box {
        HWND owner;
        std::string text;
        std::string caption;
        UINT flags;
    };
    struct ShellRequest {
        DWORD message;
        ui::NotifyIconRecord record;
    };
    struct Popup {
        HMENU menu;
        int x, y;
    };

    // The desktop: what was asked, and the answers.
    std::vector<Box> boxes;
    int boxAnswer = IDOK;
    std::vector<ShellRequest> shell;
    BOOL shellAnswer = TRUE;
    std::vector<Popup> popups;
    ui::OpenFileCall fileDialog; // unset: the user cancels the dialog
    int homePageOpened = 0;
    // Sending: unset, no pause and every certificate question cancelled.
    std::function<void()> beforeAddressLookup;
    std::function<bool(HWND owner, const std::string& server, const CertificateReport& report)>
        certificateQuestion;
    Dialler dialler = Dialler::System(); // the real manager: over the scripted RASAPI32.DLL where one is used

    // The registry, the phone book and Credential Manager.
    int recorded = 0;
    int imported = 0;
    int registered = 0;
    bool registerSucceeds = true;
    std::string serverSeenByImport;
    std::string importedServer = "smtp.imported.example";
    std::string importedEmail = "me@imported.example";
    RasEntryList phoneBook; // selection found by name
    std::vector<std::string> wantedNames;
    std::map<std::string, std::string> passwords; // by Credential Manager target
    std::string storeFailure;                     // what a store answers; empty: stored

    // The sign-in: the users with a stored sign-in, and how the next sign-in in the browser ends (on the
    // caller's worker); with signInWaits it waits for the observer's cancel and ends Cancelled.
    std::set<std::string> signedIn;
    oauth::TokenOutcome signInOutcome{oauth::TokenEnd::Ready, "access token", ""};
    bool signInWaits = false;
    std::vector<OAuth2Settings> signInsAsked;
    std::atomic<int> signInCancels{0};

    Services Make() {
        Services s;
        s.messageBox = [this](HWND owner, const std::string& text, const std::string& caption, UINT flags) {
            std::lock_guard lock(mutex_); // the socket's boxes come from its worker threads
            boxes.push_back({owner, text, caption, flags});
            return boxAnswer;
        };
        s.openFileDialog = [this](OPENFILENAMEW* dialog) { return fileDialog ? fileDialog(dialog) : FALSE; };
        s.popupMenu = [this](HMENU menu, int x, int y, HWND) { popups.push_back({menu, x, y}); };
        s.shellNotify = [this](DWORD message, NOTIFYICONDATAW* data) {
            ShellRequest request{message, {}};
            std::memcpy(&request.record, data, sizeof request.record);
            shell.push_back(request);
            return shellAnswer;
        };
        s.openHomePage = [this] { ++homePageOpened; };
        s.beforeAddressLookup = [this] {
            if (beforeAddressLookup) beforeAddressLookup();
        };
        s.certificateQuestion = [this](HWND owner, const std::string& server, const CertificateReport& report,
                                       const std::function<bool()>&) {
            return certificateQuestion && certificateQuestion(owner, server, report);
        };
        s.dialler = dialler;
        s.recordProgramLocation = [this] { ++recorded; };
        s.importMailerDefaults = [this](Settings& settings) {
            ++imported;
            serverSeenByImport = settings.SMTPServer;
            settings.SMTPServer = importedServer;
            settings.EmailAddress = importedEmail;
            settings.DialEntry.clear();
            settings.DialPassword.clear();
            settings.UseDialup = false;
        };
        s.registerMailtoHandler = [this] {
            ++registered;
            return registerSucceeds;
        };
        s.fillRasEntries = [this](RasEntryList& list, std::optional<std::string_view> wanted) {
            wantedNames.emplace_back(wanted.value_or("<none>"));
            list = phoneBook;
            list.selected = -1;
            for (std::size_t i = 0; wanted && i < list.items.size(); ++i)
                if (list.items[i] == *wanted) list.selected = static_cast<int>(i);
        };
        s.readPassword = [this](const std::string& target) -> std::optional<std::string> {
            auto found = passwords.find(target);
            if (found == passwords.end()) return std::nullopt;
            return found->second;
        };
        s.storePassword = [this](const std::string& target, const std::string& password) {
            if (!storeFailure.empty()) return storeFailure;
            if (password.empty())
                passwords.erase(target);
            else
                passwords[target] = password;
            return std::string();
        };
        s.isSignedIn = [this](const OAuth2Settings&, const std::string& user) {
            std::lock_guard lock(mutex_);
            return signedIn.contains(user);
        };
        s.signInWithBrowser = [this](const OAuth2Settings& settings, const std::string& user,
                                     const oauth::SignIn::Observer& observer) {
            std::unique_lock lock(mutex_);
            signInsAsked.push_back(settings);
            if (signInWaits && observer.cancel) {
                lock.unlock();
                observer.cancel->wait(false);
                ++signInCancels;
                return oauth::TokenOutcome{oauth::TokenEnd::Cancelled, "", ""};
            }
            if (signInOutcome.end == oauth::TokenEnd::Ready) signedIn.insert(user);
            return signInOutcome;
        };
        return s;
    }

private:
    std::mutex mutex_;
};

} // namespace tarvel::test
