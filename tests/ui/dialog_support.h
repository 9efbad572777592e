// What the tests of the dialogs, the name list and start-up share: a scratch folder for zembrix.cfg,
// message boxes and tray requests answered without a screen prompt, stand-ins for the registry and the
// phone book.
#pragma once

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/dialup.h"
#include "support/pump.h"
#include "support/temp_folder.h"
#include "win/application.h"
#include "win/message_box.h"
#include "ui/settings_dialog.h"
#include "ui/tray_icon.h"

namespace tarvel::test {

// The program's folder of a test: a temporary folder with the configuration file's helpers.
class ScratchFolder : public TempFolder {
public:
    std::string Config() const { return File("zembrix.cfg"); }
    bool HasConfig() const { return std::filesystem::exists(Path() / "zembrix.cfg"); }
    std::string ReadConfig() const { return ReadFile(Config()); }
    void WriteConfig(const std::string& bytes) const { PutFile(Config(), bytes); }
    // Saving goes through this temporary name; a folder in its place makes every save fail.
    void BlockSaving() const { std::filesystem::create_directories(Path() / "zembrix.cfg.tmp"); }
};

// Answers every message box with OK and keeps what it said.
class MessageBoxes {
public:
    struct Box {
        HWND owner;
        std::string text;
        UINT flags;
    };
    std::vector<Box> shown;

private:
    ui::MessageBoxCall::Override override_ = ui::MessageBoxHook.Replace(
        [this](HWND owner, const std::string& text, const std::string&, UINT flags) {
            shown.push_back({owner, text, flags});
            return IDOK;
        });
};

// The shell accepts every tray request, so no test depends on a notification area.
class QuietTray {
private:
    decltype(ui::ShellNotifyHook)::Override override_ =
        ui::ShellNotifyHook.Replace([](DWORD, NOTIFYICONDATAA*) { return TRUE; });
};

// Stand-ins for the registry operations and the phone book, counting their calls.
struct FakeServices {
    int recorded = 0;
    int imported = 0;
    int registered = 0;
    bool registerSucceeds = true;
    std::string serverSeenByImport;
    std::string importedServer = "smtp.imported.example";
    std::string importedEmail = "me@imported.example";
    RasEntryList phoneBook; // selection found by name
    std::vector<std::string> wantedNames;

    ui::SettingsServices Make() {
        ui::SettingsServices s;
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
        return s;
    }
};

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

inline void Click(HWND button) {
    SendMessageA(button, BM_CLICK, 0, 0);
}

} // namespace tarvel::test
