// frmMain's send flow: fill the record, dial and connect on a worker, feed the session the server's
// replies, count idle ticks, draw progress and end every send with a true status.
#include "ui/vorpek.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <limits>

#include "dialup/dialup.h"
#include "mail/byte_file.h"

namespace tarvel::ui {

namespace {

constexpr std::string_view SendCaption = "&Send";
constexpr std::string_view CancelCaption = "&Cancel";
constexpr std::string_view SentText = "Mail has been sent!";
constexpr std::string_view CancelledText = "Mail has been cancelled!";
// The connection ended before the server took the message and nothing said why.
constexpr std::string_view NotSentText = "The connection ended before the mail was sent";
constexpr std::string_view UnreadableAttachmentText = "Cannot read the attachment ";
constexpr int ReceiveBufferSize = 4096;
// How long the end of a send waits for replies read before the close to be handled.
constexpr std::chrono::milliseconds ReplyDrainLimit{3000};

// Percent of `sent` in `total`, in 64 bits without overflow for any size; 100 and above show full.
int ProgressPercent(std::int64_t sent, std::int64_t total) {
    if (total <= 0 || sent <= 0) return 0;
    if (sent >= total) return 100;
    if (sent <= std::numeric_limits<std::int64_t>::max() / 100) return static_cast<int>(sent * 100 / total);
    return static_cast<int>(sent / (total / 100));
}

bool Readable(const std::string& path) {
    ByteFile file = OpenBytes(path);
    return file && SizeOfOpenFile(file.get()) >= 0;
}

} // namespace

bool TfrmMain::FillMessage() {
    TEmailMessage& message = messages_.front();
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

    // A send that cannot succeed starts nothing and says why.
    if (message.Recipients.empty()) {
        ShowStatus(NoRecipientText);
        return false;
    }
    for (const std::string& path : message.Attachments) {
        if (!Readable(path)) {
            ShowStatus(std::string(UnreadableAttachmentText) + path);
            return false;
        }
    }
    return true;
}

void TfrmMain::cmdMakeClick() {
    if (Text(cmdMake) == CancelCaption) {
        // The next Timer1 tick ends the send.
        userCancelled_ = true;
        send_.SendAborted.store(true);
        return;
    }
    // No second send while one is being prepared (dialling).
    if (phase_ != Phase::Idle) return;
    ShowStatus("Creating mail...");
    if (!FillMessage()) return;

    // Nothing of an earlier send may cut this one short.
    send_.IdleTicks.store(0);
    send_.SendAborted.store(false);
    userCancelled_ = false;
    SendJob job{settings_.SMTPServer, settings_.SMTPPort, settings_.UseDialup, settings_.DialEntry,
                settings_.DialPassword};
    dialled_ = job.useDialup;
    sendSocket_ = -1;
    JoinSendWorker();
    // A connect that came after the end of the last send must not leave its socket behind.
    if (sockets1_.SocketHandle() != -1) sockets1_.Disconnect();
    phase_ = Phase::Preparing;
    sendWorker_ = std::thread([this, job] { StartSend(job); });
}

// Runs on the send worker: window changes go through Post.
void TfrmMain::StartSend(const SendJob& job) {
    Post([this] { SetPosition(ProgressBar1, 0); });
    if (job.useDialup) {
        Post([this] { ShowStatus("Establishing ISP connection..."); });
        LoadRasLibrary();
        std::string error = DialRasEntry(job.dialEntry, "", job.dialPassword);
        if (!error.empty()) {
            Post([this, error] {
                ShowStatus(error);
                TrimWorkingSet();
                phase_ = Phase::Idle;
            });
            return;
        }
    }
    Post([this] {
        phase_ = Phase::Sending;
        SetText(cmdMake, CancelCaption);
        // Only the caption: the hint keeps the text shown before.
        SetText(lblProgress, "Sending mail...");
        timer1_.SetEnabled(true);
        timer2_.SetEnabled(true);
    });
    // A send that ends at once (a port that is no number, a failed connect) has set SendAborted and
    // its Status; the first Timer1 tick shows it.
    StartSmtpSession(session_, job.server, job.port);
}

bool TfrmMain::OwnSocketEvent(int socket) {
    // Notifications queued before a Disconnect still arrive after it: they name a socket that is
    // closed, or they come while no send is connected. Either way they are not this send's.
    if (phase_ != Phase::Sending || socket == -1) return false;
    // The component stores a new socket before it asks for notifications, so the first event of a
    // send finds it there.
    if (sendSocket_ == -1) sendSocket_ = sockets1_.SocketHandle();
    return socket == sendSocket_;
}

void TfrmMain::DataAvailable(TSockets&, int socket) {
    if (!OwnSocketEvent(socket)) return;
    // Disable, then enable: the next tick comes a full interval later.
    timer1_.SetEnabled(false);
    timer1_.SetEnabled(true);
    std::array<char, ReceiveBufferSize> buffer{};
    sockets1_.SReceive(sockets1_.SocketHandle(), buffer.data(), ReceiveBufferSize);
    // The count is not used: the text ends at the first zero byte, and a failed read leaves none.
    replies_.Post(std::string(buffer.data(), strnlen(buffer.data(), buffer.size())));
}

void TfrmMain::ErrorOccurred(TSockets&, int socket, int, const std::string& msg) {
    // On a worker it is a call of the send's own that failed (a connect, a write); on this thread it
    // may be a notification of a socket closed before.
    if (GetCurrentThreadId() == uiThread_ && !OwnSocketEvent(socket)) return;
    AbortSmtpSession(session_, msg);
}

void TfrmMain::Sockets1SessionClosed(TSockets&, int socket) {
    if (OwnSocketEvent(socket)) FinishSend();
}

void TfrmMain::Timer1Timer() {
    send_.IdleTicks.fetch_add(1);
    if (send_.SendAborted.load()) {
        FinishSend();
        return;
    }
    if (send_.IdleTicks.load() >= options_.timeoutTicks) {
        send_.IdleTicks.store(0);
        AbortSmtpSession(session_, "TimeOut");
    }
}

void TfrmMain::Timer2Timer() {
    std::int64_t total = send_.BytesTotal.load();
    if (total != 0) SetPosition(ProgressBar1, ProgressPercent(send_.BytesSent.load(), total));
}

void TfrmMain::JoinSendWorker() {
    if (sendWorker_.joinable()) sendWorker_.join();
}

void TfrmMain::FinishSend() {
    if (phase_ != Phase::Sending) return;
    timer2_.SetEnabled(false);
    SetPosition(ProgressBar1, 100);
    // The send worker has done its part by now; it is joined before the next one starts, so that a
    // slow name lookup can never hold up this thread.
    timer1_.SetEnabled(false);
    SetText(cmdMake, SendCaption);

    // Replies read before the close decide the outcome: let the session see them first. A transfer
    // that does not end by itself is stopped.
    if (!replies_.WaitIdle(ReplyDrainLimit)) {
        send_.SendAborted.store(true);
        replies_.WaitIdle(ReplyDrainLimit);
    }
    // Also after the server closed: no socket may be left for the next connect.
    if (sockets1_.SocketHandle() != -1) sockets1_.Disconnect();

    if (dialled_) {
        ShowStatus("Hanging up...");
        HangUpRas(false);
    }
    // What the server said, or the failure's own text, comes before the user's Cancel.
    const std::string status = messages_.front().Status;
    bool sent = status == "OK!";
    if (sent)
        ShowStatus(SentText);
    else if (!status.empty())
        ShowStatus(status);
    else
        ShowStatus(userCancelled_ ? CancelledText : NotSentText);

    send_.SendAborted.store(false);
    userCancelled_ = false;
    sendSocket_ = -1;
    phase_ = Phase::Idle;
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
