// Each service as Windows does it: the real boxes, dialogs, menus and shell, the registry, the dial-up
// manager and Credential Manager.
#include "app/system_services.h"

#include "core/config/config.h"
#include "core/text/wide.h"
#include "platform/credentials.h"
#include "platform/registry.h"
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
    return s;
}

} // namespace tarvel
