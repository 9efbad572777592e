// frmMain as the send flow's view: the compose fields become the record, and the flow's status,
// progress, busy state and timers become the window's controls.
#include "ui/vorpek.h"

#include <vector>

#include "mail/header_encoding.h"

namespace tarvel::ui {

namespace {
constexpr std::string_view SendCaption = "&Send";
constexpr std::string_view CancelCaption = "&Cancel";
} // namespace

void TfrmMain::Compose(TEmailMessage& message) {
    std::string email = Text(edsEmail);
    int selected = SelectedIndex(edsName);
    std::string name;
    if (selected >= 0) {
        std::vector<std::string> names = Items(edsName);
        if (static_cast<std::size_t>(selected) < names.size())
            name = names[static_cast<std::size_t>(selected)];
    }
    message.ToHeader = name + " <" + email + ">";
    SplitToList(message.Recipients, email, ';');
    message.Sender = settings_.EmailAddress;
    message.Subject = Text(edsSubj);
    message.Body.clear();
    for (const std::string& line : Lines(edsMemo)) {
        message.Body += line;
        message.Body += CRLF;
    }
    SplitToList(message.Attachments, Text(edsAttach), ';');
    // The fields hold text in the system's ANSI code page; national text is declared under its name.
    message.Charset = CharsetOfCodePage(GetACP());
}

void TfrmMain::cmdMakeClick() {
    flow_.OnClick();
}

void TfrmMain::DataAvailable(TSockets&, int socket) {
    flow_.OnData(socket);
}

void TfrmMain::ErrorOccurred(TSockets&, int socket, int, const std::string& msg) {
    flow_.OnError(socket, msg);
}

void TfrmMain::Sockets1SessionClosed(TSockets&, int socket) {
    flow_.OnClose(socket);
}

void TfrmMain::Timer1Timer() {
    flow_.OnTick();
}

void TfrmMain::Timer2Timer() {
    flow_.OnProgressTick();
}

void TfrmMain::ShowCaption(std::string_view text) {
    SetText(lblProgress, text);
}

void TfrmMain::ShowProgress(int percent) {
    SetPosition(ProgressBar1, percent);
}

void TfrmMain::ShowBusy(bool busy) {
    SetText(cmdMake, busy ? CancelCaption : SendCaption);
    // While a send is under way the button cancels, whatever the e-mail field holds now.
    edsEmailChange();
}

void TfrmMain::RunTimers(bool tick, bool progress) {
    timer1_.SetEnabled(tick);
    timer2_.SetEnabled(progress);
}

void TfrmMain::RestartTick() {
    // Disable, then enable: the next tick comes a full interval later.
    timer1_.SetEnabled(false);
    timer1_.SetEnabled(true);
}

void TfrmMain::Done(bool sent) {
    TrimWorkingSet();
    // What the user typed is kept until the server has taken it.
    if (!sent) return;
    SetText(edsSubj, "");
    SetText(edsAttach, "");
    SetText(edsMemo, "");
    FocusControl(edsSubj);
    if (options_.mailToMode) Close();
}

} // namespace tarvel::ui
