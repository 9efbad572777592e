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
#include "mail/header_encoding.h"

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
// How long a transfer may go on after the server closed the connection before it is stopped.
constexpr DWORD ReplyDrainLimitMs = 3000;

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
    // The fields hold text in the system's ANSI code page; national text is declared under its name.
    message.Charset = CharsetOfCodePage(GetACP());

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
    ending_ = false;
    drainQueued_ = false;
    drained_ = false;
    ++sendNumber_;
    // The last send ended only after its worker had returned: this join does not wait.
    JoinSendWorker();
    // Nothing of an earlier connection may linger into this one.
    if (sockets1_.SocketHandle() != -1) sockets1_.Disconnect();
    phase_ = Phase::Preparing;
    starting_.store(true);
    sendWorker_ = std::thread([this, job] { StartSend(job); });
}

// The send worker: dial and connect, then tell the window that the session and the socket are no
// longer being changed from here.
void TfrmMain::StartSend(const SendJob& job) {
    RunSendSteps(job);
    starting_.store(false);
    Post([this] { TryFinishSend(); });
}

// Runs on the send worker: window changes go through Post.
void TfrmMain::RunSendSteps(const SendJob& job) {
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
    // Once the send is ending, a text read now would reach the session after its outcome was taken.
    if (!OwnSocketEvent(socket) || ending_) return;
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
    if (OwnSocketEvent(socket)) EndSend();
}

void TfrmMain::Timer1Timer() {
    send_.IdleTicks.fetch_add(1);
    if (ending_) {
        // After the server's close a transfer still going on can never be accepted: it gets a grace
        // period, then it is stopped (after a cancel or a failure it has stopped already).
        if (GetTickCount() - endingSince_ >= ReplyDrainLimitMs) send_.SendAborted.store(true);
        TryFinishSend();
        return;
    }
    if (send_.SendAborted.load()) {
        EndSend();
        return;
    }
    // The connect step (a name lookup may take seconds) holds the session: an abort now would wait
    // for it here. The count goes on, so the time-out follows as soon as the step is over.
    if (starting_.load()) return;
    // A server that answers "QUIT" with anything but 221 gets its connection closed by the session,
    // and that close raises no event: the send is over, so it ends now instead of at the time-out.
    if (session_.State() == SessionState::ssIdle && sockets1_.SocketHandle() == -1) {
        EndSend();
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

void TfrmMain::EndSend() {
    if (phase_ != Phase::Sending || ending_) return;
    ending_ = true;
    endingSince_ = GetTickCount();
    // Timer1 keeps ticking until FinishSend: it stops a transfer that outlives the connection.
    timer2_.SetEnabled(false);
    SetPosition(ProgressBar1, 100);
    SetText(cmdMake, SendCaption);
    TryFinishSend();
}

void TfrmMain::TryFinishSend() {
    if (phase_ != Phase::Sending || !ending_) return;
    // Its worker posts here again when it returns.
    if (starting_.load()) return;
    // Replies read before the end decide the outcome: the session sees them first. A transfer being
    // written stops within one send once SendAborted is set.
    if (!drained_ && !replies_.WaitIdle(std::chrono::milliseconds(0))) {
        if (!drainQueued_) {
            drainQueued_ = true;
            replies_.Then([this, send = sendNumber_] {
                Post([this, send] {
                    if (send != sendNumber_) return;
                    drained_ = true;
                    TryFinishSend();
                });
            });
        }
        return;
    }
    FinishSend();
}

void TfrmMain::FinishSend() {
    timer1_.SetEnabled(false);
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
    ending_ = false;
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
