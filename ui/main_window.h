// MainWindow: the compose window, its tray icon and pop-up menu, and the view of the send flow
// (core/send/send_flow.h) that turns the fields into a message and shows how its send goes.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/send/send_flow.h"
#include "core/config/settings.h"
#include "core/send/dialler.h"
#include "core/mail/message.h"
#include "core/smtp/send_state.h"
#include "core/smtp/smtp_session.h"
#include "platform/client_socket.h"
#include "platform/services.h"
#include "platform/tls_connection.h"
#include "win/form.h"
#include "ui/tray_icon.h"
#include "win/timer.h"

namespace tarvel::ui {

// Asks the system to trim the process's working set: the program mostly waits in the tray.
void TrimWorkingSet();

// How the window starts and, for tests, how fast its time-out runs.
struct MainOptions {
    std::string exeFolder;    // with its trailing separator; holds zembrix.ico
    std::string securityPath; // zembrix.ini, where trusted certificates are saved
    bool mailToMode = false;
    // Mail-to mode: the fields filled from the link.
    std::string mailToEmail;
    std::string mailToSubject;
    std::string mailToBody;
    std::string mailToStatus;    // what the link asked for that the window leaves out; empty: nothing
    int timeoutTicks = 30;       // idle ticks without a write of message text before "TimeOut"
    UINT idleInterval = 1000;    // ms
    UINT progressInterval = 100; // ms
};

// What the name list, the settings dialog and the about box plug into the window; an unset one does
// nothing.
struct MainWindowCommands {
    std::function<void()> namePicked;
    std::function<void()> add;
    std::function<void()> remove;
    std::function<void()> properties;
    std::function<void()> about;
};

class MainWindow : public Form, private SendView {
public:
    // Control and menu-item ids.
    enum Id : int {
        nameLabel = 101,
        emailLabel,
        subjectLabel,
        attachLabel,
        nameCombo,
        emailEdit,
        subjectEdit,
        attachEdit,
        browseButton,
        bodyEdit,
        statusLabel,
        progressBar,
        sendButton,
        addButton,
        deleteButton,
        closeButton,
        showItem = 201,
        aboutItem,
        menuSeparator,
        propertiesItem,
        closeItem,
    };
    // Everything the window asks of the system goes through `services`.
    MainWindow(Settings& settings, MessageList& messages, Services services, MainOptions options = {});
    ~MainWindow() override;

    // Creates the window hidden, with its controls, tray icon and menu (FormCreate); false when the
    // window cannot be created.
    bool Create();

    MainWindowCommands Commands;

    void ShowStatus(std::string_view text) override;

    // Event handlers. Send, the socket's events and the two timers go to the send flow directly.
    void FormCreate();
    void BrowseClick();
    void EmailChanged();
    void CloseClick();
    void ShowItemClick();
    void TrayClick();
    void TrayRightClick(int x, int y);
    void CloseItemClick();
    void NamePicked();
    void AddClick();
    void DeleteClick();
    void PropertiesItemClick();
    void AboutItemClick();

    // The parts other windows and tests look at.
    Settings& Config() { return settings_; }
    MessageList& Messages() { return messages_; }
    SendSignals& Signals() { return send_; }
    ClientSocket& Socket() { return socket_; }
    SmtpSession& Session() { return session_; }
    TrayIcon& Tray() { return tray_; }
    HMENU TrayMenu() const { return trayMenu_.Handle(); }
    Timer& IdleTimer() { return idleTimer_; }
    Timer& ProgressTimer() { return progressTimer_; }
    SendFlow& Flow() { return flow_; }
    const tarvel::Services& Services() const { return services_; }

protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    // The send flow's view.
    void Compose(MailMessage& message) override;
    void ShowCaption(std::string_view text) override;
    void ShowProgress(int percent) override;
    void ShowBusy(bool busy) override;
    void RunTimers(bool tick, bool progress) override;
    void RestartTick() override;
    void Done(bool sent) override;
    SessionSecurity SecurityFor(const std::string& server) override;
    OAuthSource OAuthFor() override;
    std::optional<bool> TrustFor(const std::string& server, const CertificateReport& report) override;

    Settings& settings_;
    MessageList& messages_;
    tarvel::Services services_;
    MainOptions options_;
    SendSignals send_;
    ClientSocket socket_;
    TlsConnection tls_{socket_}; // between the socket and the session; plain unless asked for TLS
    SmtpSession session_;
    TrayIcon tray_;
    PopupMenu trayMenu_;
    Timer idleTimer_;
    Timer progressTimer_;
    UINT taskbarCreated_ = 0;
    // Last: it is stopped first, while the session and the socket it uses still exist.
    SendFlow flow_;
};

} // namespace tarvel::ui
