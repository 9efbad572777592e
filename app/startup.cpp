// Start-up in its fixed order. A configuration file that exists but cannot be read stops the program
// with its reason; nothing is saved at exit.
#include "app/startup.h"

#include <windows.h>

#include <utility>

#include "core/config/config.h"
#include "core/link/mailto.h"
#include "app/system_services.h"
#include "platform/registry.h"
#include "core/config/security_config.h"
#include "win/message_box.h"
#include "ui/name_list.h"

namespace tarvel {

Program::Program(StartupOptions options) : options_(std::move(options)) {}

Program::~Program() = default;

bool Program::Start() {
    // The shared objects, with the settings' defaults: the name list's lists and the one message record.
    state_ = ui::SharedState{};
    messages_.assign(1, MailMessage{});
    // The program's folder, from the module's real path rather than what the command line says.
    state_.exePath = options_.exePath.empty() ? ProgramFilePath() : options_.exePath;
    const std::string exeFolder = ExeFolderOf(state_.exePath);
    services_ = options_.services ? *options_.services : SystemServices(state_.exePath);
    state_.configPath = ConfigPath(options_.configFolder.empty() ? exeFolder : options_.configFolder);
    // The common controls and the title of message boxes, before the first window or box.
    application_ = std::make_unique<ui::Application>();
    try {
        LoadConfiguration(state_.settings, state_.configPath);
        LoadSecuritySettings(state_.settings.Security, SecurityConfigPath(ExeFolderOf(state_.configPath)));
    } catch (const ConfigError& error) {
        ui::ShowMessage(services_.messageBox, nullptr, error.what(), MB_OK | MB_ICONERROR);
        return false;
    }
    mailToMode_ = IsMailToMode(options_.args);

    ui::MainOptions mainOptions = options_.mainOptions;
    mainOptions.exeFolder = exeFolder;
    mainOptions.securityPath = SecurityConfigPath(ExeFolderOf(state_.configPath));
    mainOptions.mailToMode = mailToMode_;
    if (mailToMode_) {
        const MailToFields fields = ParseMailToArguments(options_.args);
        mainOptions.mailToEmail = fields.email;
        mainOptions.mailToSubject = fields.subject;
        mainOptions.mailToBody = fields.body;
        mainOptions.mailToStatus = MailToStatus(fields);
    }
    mainWindow_ =
        std::make_unique<ui::MainWindow>(state_.settings, messages_, services_, std::move(mainOptions));
    ui::MainWindow& main = *mainWindow_;
    ui::InstallNameList(main, state_);
    main.Commands.properties = [this] { ShowSettings(mainWindow_->Handle()); };
    main.Commands.about = [this] { ShowAbout(); };
    if (!main.Create()) {
        ui::ShowMessage(services_.messageBox, nullptr, "The main window cannot be created.",
                        MB_OK | MB_ICONERROR);
        return false;
    }
    if (mailToMode_) main.Show();
    // A first run asks for the settings at once, in a dialog of its own (no owner).
    if (state_.settings.FirstRun) ShowSettings(nullptr);
    return true;
}

int Program::Run() {
    return application_ ? application_->Run() : 1;
}

void Program::ShowSettings(HWND owner) {
    ui::OpenSettings(settingsDialog_, state_, owner, services_);
}

void Program::ShowAbout() {
    ui::OpenAbout(aboutBox_, state_, mainWindow_ ? mainWindow_->Handle() : nullptr, services_);
}

int RunProgram(std::vector<std::string> args) {
    StartupOptions options;
    options.args = std::move(args);
    Program program(std::move(options));
    if (!program.Start()) return 1;
    return program.Run();
}

} // namespace tarvel
