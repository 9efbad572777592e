// Each service as Windows does it: the real boxes, dialogs, menus and shell, the registry, the dial-up
// manager, Credential Manager and the OAuth 2.0 sign-in.
#include "app/system_services.h"

#include <cstdlib>
#include <memory>

#include "core/config/config.h"
#include "core/text/wide.h"
#include "platform/credentials.h"
#include "platform/registry.h"
#include "platform/sign_in_system.h"
#include "ui/certificate_question.h"
#include "win/form.h"

namespace tarvel {
namespace {

// The shortcut beside the program, named with its folder: a program started from a link or a shortcut
// has another working folder, where a bare file name would not be found.
void OpenShortcut(const std::string& exeFolder) {
    const std::string shortcut = exeFolder + "zembrix.url";
    ShellExecuteW(nullptr, L"open", Widen(shortcut).c_str(), L" ",
                  Widen(exeFolder.empty() ? " " : exeFolder).c_str(), SW_SHOWNORMAL);
}

// The sign-in over Windows' own parts, one for the run.
struct SystemSignIn {
    WindowsSignInSystem system;
    oauth::SignIn signIn{system};
};

std::shared_ptr<oauth::SignIn> MakeSignIn() {
    auto made = std::make_shared<SystemSignIn>();
    // The end-to-end tests cannot wait five minutes for a browser that never comes back.
    if (const char* limit = std::getenv("TARVEL_SIGN_IN_WAIT_MS"); limit && *limit)
        made->signIn.SetRedirectWaitLimit(std::chrono::milliseconds(std::strtoul(limit, nullptr, 10)));
    return std::shared_ptr<oauth::SignIn>(made, &made->signIn);
}

} // namespace

Services SystemServices(const std::string& exePath) {
    Services s;
    s.messageBox = &ui::SystemMessageBox;
    s.openFileDialog = &GetOpenFileNameW;
    s.popupMenu = &ui::TrackMenu;
    s.shellNotify = &Shell_NotifyIconW;
    s.openHomePage = [folder = ExeFolderOf(exePath)] { OpenShortcut(folder); };
    s.beforeAddressLookup = [] {};
    s.certificateQuestion = &ui::AskAboutCertificate;
    s.dialler = Dialler::System();
    s.recordProgramLocation = [exePath] { RecordProgramLocation(exePath); };
    s.importMailerDefaults = [](Settings& settings) { ImportMailerDefaults(settings); };
    s.registerMailtoHandler = [exePath] {
        if (!RegisterMailtoHandler(exePath)) return false;
        OpenDefaultAppsPage();
        return true;
    };
    s.fillRasEntries = [](RasEntryList& list, std::optional<std::string_view> wanted) {
        FillRasEntries(list, wanted);
    };
    s.readPassword = [](const std::string& target) { return ReadPassword(target); };
    s.storePassword = [](const std::string& target, const std::string& password) {
        if (!password.empty()) return StorePassword(target, password);
        DeletePassword(target);
        return std::string();
    };
    s.signIn = MakeSignIn();
    s.isSignedIn = [signIn = s.signIn](const OAuth2Settings& settings, const std::string& user) {
        return signIn->IsSignedIn(settings, user);
    };
    s.signInWithBrowser = [signIn = s.signIn](const OAuth2Settings& settings, const std::string& user,
                                              const oauth::SignIn::Observer& observer) {
        return signIn->SignInWithBrowser(settings, user, observer);
    };
    return s;
}

} // namespace tarvel
