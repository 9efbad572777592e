// Start-up in its fixed order. A configuration file that exists but cannot be read stops the program
// with its reason; nothing is saved at exit.
#include "app/startup.h"

#include <windows.h>

#include <utility>

#include "app/config.h"
#include "app/mailto.h"
#include "app/registry.h"
#include "app/security_config.h"
#include "ui/message_box.h"
#include "ui/namelist.h"

namespace tarvel {

Program::Program(StartupOptions options) : options_(std::move(options)) {}

Program::~Program() = default;

ui::SettingsServices Program::Services() const {
    return options_.services ? *options_.services : ui::SettingsServices::System(state_.exePath);
}

bool Program::Start() {
    // The shared objects, with the settings' defaults: the name list's lists and the one message record.
    state_ = ui::SharedState{};
    messages_.assign(1, TEmailMessage{});
    // The program's folder, from the module's real path rather than what the command line says.
    state_.exePath = options_.exePath.empty() ? ProgramFilePath() : options_.exePath;
    const std::string exeFolder = ExeFolderOf(state_.exePath);
    state_.configPath = ConfigPath(options_.configFolder.empty() ? exeFolder : options_.configFolder);
    // The common controls and the title of message boxes, before the first window or box.
    application_ = std::make_unique<ui::Application>();
    try {
        LoadConfiguration(state_.settings, state_.configPath);
        LoadSecuritySettings(state_.settings.Security, SecurityConfigPath(ExeFolderOf(state_.configPath)));
    } catch (const ConfigError& error) {
        ui::ShowMessage(nullptr, error.what(), MB_OK | MB_ICONERROR);
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
    frmMain_ = std::make_unique<ui::TfrmMain>(state_.settings, messages_, std::move(mainOptions));
    ui::TfrmMain& main = *frmMain_;
    ui::InstallNameList(main, state_);
    main.Hooks.Properties1Click = [this] { Properties1Click(frmMain_->Handle()); };
    main.Hooks.AboutOndrix1Click = [this] { AboutOndrix1Click(); };
    if (!main.Create()) {
        ui::ShowMessage(nullptr, "The main window cannot be created.", MB_OK | MB_ICONERROR);
        return false;
    }
    if (mailToMode_) main.Show();
    // A first run asks for the settings at once, in a dialog of its own (no owner).
    if (state_.settings.FirstRun) Properties1Click(nullptr);
    return true;
}

int Program::Run() {
    return application_ ? application_->Run() : 1;
}

void Program::Properties1Click(HWND owner) {
    ui::OpenSettings(frmSettings_, state_, owner, Services());
}

void Program::AboutOndrix1Click() {
    ui::OpenAbout(frmAbout_, state_, frmMain_ ? frmMain_->Handle() : nullptr, options_.openHomePage);
}

int RunProgram(std::vector<std::string> args) {
    StartupOptions options;
    options.args = std::move(args);
    Program program(std::move(options));
    if (!program.Start()) return 1;
    return program.Run();
}

} // namespace tarvel
