// Start-up of one run: the shared objects, the configuration, tray or mail-to mode, the main window
// with its name list, settings dialog and about box, the settings dialog of a first run, and the loop.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/mail/message.h"
#include "ui/about_box.h"
#include "win/application.h"
#include "ui/settings_dialog.h"
#include "ui/shared_state.h"
#include "ui/main_window.h"

namespace tarvel {

struct StartupOptions {
    std::vector<std::string> args; // the command line after the program path
    std::string exePath;           // empty: the running program's file
    std::string configFolder;      // empty: the program's folder (with its trailing separator)
    // What the program asks of the system (tests hand in their fake), and the main window's timings;
    // no services: the real ones, SystemServices().
    std::optional<Services> services;
    ui::MainOptions mainOptions;
};

class Program {
public:
    explicit Program(StartupOptions options);
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;
    ~Program();

    // Everything before the message loop. False when the program cannot start; the reason has been
    // shown in a message box.
    bool Start();
    // The message loop; returns the exit code once the main window has closed.
    int Run();

    ui::SharedState& State() { return state_; }
    MessageList& Messages() { return messages_; }
    ui::MainWindow* MainForm() { return mainWindow_.get(); }
    ui::SettingsDialog* SettingsForm() { return settingsDialog_.get(); }
    ui::AboutBox* AboutForm() { return aboutBox_.get(); }
    bool MailToMode() const { return mailToMode_; }

    // The tray menu's items, also used by start-up.
    void ShowSettings(HWND owner);
    void ShowAbout();

private:
    StartupOptions options_;
    Services services_;
    std::unique_ptr<ui::Application> application_;
    ui::SharedState state_;
    MessageList messages_;
    bool mailToMode_ = false;
    // Destroyed in reverse: the dialogs go before the main window that owns them.
    std::unique_ptr<ui::MainWindow> mainWindow_;
    std::unique_ptr<ui::SettingsDialog> settingsDialog_;
    std::unique_ptr<ui::AboutBox> aboutBox_;
};

// The whole run, for WinMain: `args` is the command line after the program path.
int RunProgram(std::vector<std::string> args);

} // namespace tarvel
