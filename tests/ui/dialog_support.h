// What the tests of the dialogs, the name list and start-up share: a scratch folder for zembrix.cfg,
// message boxes and tray requests answered without a screen prompt, stand-ins for the registry and the
// phone book, and a bounded drain of the message queue.
#pragma once

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "dialup/dialup.h"
#include "ui/application.h"
#include "ui/message_box.h"
#include "ui/settings.h"
#include "ui/tasksrc.h"

namespace tarvel::test {

// Handles what is queued now, through the program's own dispatch, without waiting for more.
inline void Drain() {
    MSG msg;
    for (int i = 0; i < 2000 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
        if (msg.message == WM_QUIT) break;
        ui::Application::Dispatch(msg);
    }
}

// A fresh folder per test, removed afterwards.
class ScratchFolder {
public:
    ScratchFolder() {
        static int serial = 0;
        path_ = std::filesystem::temp_directory_path() /
                ("tarvel-ui-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial));
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // The folder as the program names it: with its trailing separator.
    std::string Folder() const { return path_.string() + "\\"; }
    std::string Config() const { return Folder() + "zembrix.cfg"; }
    bool HasConfig() const { return std::filesystem::exists(path_ / "zembrix.cfg"); }
    std::string ReadConfig() const {
        std::ifstream in(path_ / "zembrix.cfg", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    void WriteConfig(const std::string& bytes) const {
        std::ofstream(path_ / "zembrix.cfg", std::ios::binary) << bytes;
    }
    // Saving goes through this temporary name; a folder in its place makes every save fail.
    void BlockSaving() const { std::filesystem::create_directories(path_ / "zembrix.cfg.tmp"); }
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Answers every message box with OK and keeps what it said.
class MessageBoxes {
public:
    struct Box {
        HWND owner;
        std::string text;
        UINT flags;
    };
    MessageBoxes() {
        previous_ = ui::SetMessageBoxHook([this](HWND owner, const std::string& text, UINT flags) {
            shown.push_back({owner, text, flags});
            return IDOK;
        });
    }
    ~MessageBoxes() { ui::SetMessageBoxHook(previous_); }
    MessageBoxes(const MessageBoxes&) = delete;
    MessageBoxes& operator=(const MessageBoxes&) = delete;

    std::vector<Box> shown;

private:
    ui::MessageBoxFunction previous_;
};

// The shell accepts every tray request, so no test depends on a notification area.
class QuietTray {
public:
    QuietTray() {
        previous_ = ui::SetShellNotifyHook([](DWORD, NOTIFYICONDATAA*) { return TRUE; });
    }
    ~QuietTray() { ui::SetShellNotifyHook(previous_); }
    QuietTray(const QuietTray&) = delete;
    QuietTray& operator=(const QuietTray&) = delete;

private:
    ui::ShellNotifyFunction previous_;
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
