// The main window as the send flow's view: the compose fields become the record, and the flow's status,
// progress, busy state and timers become the window's controls.
#include "ui/main_window.h"

#include <vector>

#include "ui/certificate_question.h"

namespace tarvel::ui {

namespace {
constexpr std::string_view SendCaption = "&Send";
constexpr std::string_view CancelCaption = "&Cancel";
} // namespace

void MainWindow::Compose(MailMessage& message) {
    std::string email = Text(emailEdit);
    int selected = SelectedIndex(nameCombo);
    std::string name;
    if (selected >= 0) {
        std::vector<std::string> names = Items(nameCombo);
        if (static_cast<std::size_t>(selected) < names.size())
            name = names[static_cast<std::size_t>(selected)];
    }
    message.ToHeader = name + " <" + email + ">";
    SplitToList(message.Recipients, email, ';');
    message.Sender = settings_.EmailAddress;
    message.Subject = Text(subjectEdit);
    message.Body.clear();
    for (const std::string& line : Lines(bodyEdit)) {
        message.Body += line;
        message.Body += CRLF;
    }
    SplitToList(message.Attachments, Text(attachEdit), ';');
}

void MainWindow::ShowCaption(std::string_view text) {
    SetText(statusLabel, text);
}

void MainWindow::ShowProgress(int percent) {
    SetPosition(progressBar, percent);
}

void MainWindow::ShowBusy(bool busy) {
    SetText(sendButton, busy ? CancelCaption : SendCaption);
    // While a send is under way the button cancels, whatever the e-mail field holds now.
    EmailChanged();
}

void MainWindow::RunTimers(bool tick, bool progress) {
    idleTimer_.SetEnabled(tick);
    progressTimer_.SetEnabled(progress);
}

void MainWindow::RestartTick() {
    // Disable, then enable: the next tick comes a full interval later.
    idleTimer_.SetEnabled(false);
    idleTimer_.SetEnabled(true);
}

void MainWindow::Done(bool sent) {
    TrimWorkingSet();
    // What the user typed is kept until the server has taken it.
    if (!sent) return;
    SetText(subjectEdit, "");
    SetText(attachEdit, "");
    SetText(bodyEdit, "");
    FocusControl(subjectEdit);
    if (options_.mailToMode) Close();
}

SessionSecurity MainWindow::SecurityFor(const std::string& server) {
    return SecurityForSend(services_, settings_.Security, server);
}

SendView::OAuthSource MainWindow::OAuthFor() {
    return {services_.signIn.get(), settings_.Security.OAuth2};
}

std::optional<bool> MainWindow::TrustFor(const std::string& server, const CertificateReport& report) {
    // Shown from the message loop, as any window is, not from inside the flow's call; the send ended
    // meanwhile (an abort) ends the question, and its answer is then dropped unsaved.
    const auto ended = [this, send = flow_.SendNumber()] { return !flow_.AwaitsCertificateAnswer(send); };
    Post([this, server, report, ended] {
        const bool trusted = DecideCertificate(services_, *this, settings_.Security, options_.securityPath,
                                               server, report, ended);
        if (!ended()) flow_.AnswerCertificate(trusted);
    });
    return std::nullopt;
}

} // namespace tarvel::ui
