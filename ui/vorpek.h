// frmMain (TfrmMain): the compose window, its tray icon and pop-up menu, and the view of the send flow
// (app/send_flow.h) that turns the fields into a message and shows how its send goes.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>

#include "app/send_flow.h"
#include "app/settings.h"
#include "dialup/dialler.h"
#include "mail/message.h"
#include "mail/send_state.h"
#include "mail/smtp_session.h"
#include "net/sockets.h"
#include "net/tls_connection.h"
#include "ui/form.h"
#include "ui/hook.h"
#include "ui/tasksrc.h"
#include "ui/timer.h"

namespace tarvel::ui {

// Asks the system to trim the process's working set: the program mostly waits in the tray.
void TrimWorkingSet();

// Pops up the tray menu for its owner window; tests replace it, since the real menu runs a modal loop of
// its own.
extern Hook<void(HMENU menu, int x, int y, HWND owner)> PopupMenuHook;

// How the window starts and, for tests, how fast its time-out runs.
struct MainOptions {
    std::string exeFolder;    // with its trailing separator; holds zembrix.ico
    std::string securityPath; // zembrix.ini, where trusted certificates are saved
    bool mailToMode = false;
    // Mail-to mode: the fields filled from the link.
    std::string mailToEmail;
    std::string mailToSubject;
    std::string mailToBody;
    std::string mailToStatus;   // what the link asked for that the window leaves out; empty: nothing
    int timeoutTicks = 30;      // Timer1 ticks without a write of message text before "TimeOut"
    UINT timer1Interval = 1000; // ms
    UINT timer2Interval = 100;  // ms
};

// What the name list, the settings dialog and the about box plug into the window; an unset one does
// nothing.
struct MainHooks {
    std::function<void()> edsNameClick;
    std::function<void()> cmdAddClick;
    std::function<void()> cmdDelClick;
    std::function<void()> Properties1Click;
    std::function<void()> AboutOndrix1Click;
};

class TfrmMain : public Form, private SendView {
public:
    // Control and menu-item ids.
    enum Id : int {
        Label1 = 101,
        Label4,
        Label2,
        Label5,
        edsName,
        edsEmail,
        edsSubj,
        edsAttach,
        Button1,
        edsMemo,
        lblProgress,
        ProgressBar1,
        cmdMake,
        cmdAdd,
        cmdDel,
        cmdMin,
        ShowPelvane1 = 201,
        AboutOndrix1,
        N1,
        Properties1,
        Close1,
    };
    TfrmMain(Settings& settings, MessageList& messages, MainOptions options = {},
             Dialler dialler = Dialler::System());
    ~TfrmMain() override;

    // Creates the window hidden, with its controls, tray icon and menu (FormCreate); false when the
    // window cannot be created.
    bool Create();

    MainHooks Hooks;

    void ShowStatus(std::string_view text) override;

    // Event handlers.
    void FormCreate();
    void cmdMakeClick();
    void DataAvailable(TSockets& sender, int socket);
    void ErrorOccurred(TSockets& sender, int socket, int error, const std::string& msg);
    void Sockets1SessionClosed(TSockets& sender, int socket);
    void Timer1Timer();
    void Timer2Timer();
    void Button1Click();
    void edsEmailChange();
    void cmdMinClick();
    void ShowPelvane1Click();
    void TaskIconClick();
    void TaskIconRightClick(int x, int y);
    void Close1Click();
    void edsNameClick();
    void cmdAddClick();
    void cmdDelClick();
    void Properties1Click();
    void AboutOndrix1Click();

    // The parts other windows and tests look at.
    Settings& Config() { return settings_; }
    MessageList& Messages() { return messages_; }
    SendState& Shared() { return send_; }
    TSockets& Sockets1() { return sockets1_; }
    SmtpSession& Session() { return session_; }
    TTaskIcon& TaskIcon() { return taskIcon_; }
    HMENU PopupMenu1() const { return popupMenu1_.Handle(); }
    Timer& Timer1() { return timer1_; }
    Timer& Timer2() { return timer2_; }
    SendFlow& Flow() { return flow_; }

protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    // The send flow's view.
    void Compose(TEmailMessage& message) override;
    void ShowCaption(std::string_view text) override;
    void ShowProgress(int percent) override;
    void ShowBusy(bool busy) override;
    void RunTimers(bool tick, bool progress) override;
    void RestartTick() override;
    void Done(bool sent) override;

    Settings& settings_;
    MessageList& messages_;
    MainOptions options_;
    SendState send_;
    TSockets sockets1_;
    TlsConnection tls_{sockets1_}; // between the socket and the session; plain unless asked for TLS
    SmtpSession session_;
    TTaskIcon taskIcon_;
    PopupMenu popupMenu1_;
    Timer timer1_;
    Timer timer2_;
    UINT taskbarCreated_ = 0;
    // Last: it is stopped first, while the session and the socket it uses still exist.
    SendFlow flow_;
};

} // namespace tarvel::ui
