// The send flow's steps and events: one place enters each step, each event has one handler, and the
// workers (the dial and connect, the replies) report back by posting to the user-interface thread, so
// that nothing here is entered while it runs.
#include "core/send/send_flow.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <limits>

#include "core/mail/byte_file.h"

namespace tarvel {

namespace {

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

const char* SendStepName(SendStep step) {
    switch (step) {
    case SendStep::Idle:
        return "Idle";
    case SendStep::Dialling:
        return "Dialling";
    case SendStep::Connecting:
        return "Connecting";
    case SendStep::Exchanging:
        return "Exchanging";
    case SendStep::Ending:
        return "Ending";
    case SendStep::HangingUp:
        return "HangingUp";
    }
    return "?";
}

SendFlow::SendFlow(SendView& view, SendSocket& socket, SmtpSession& session, SendSignals& shared,
                   MessageList& messages, const Settings& settings, Dialler dialler, PostToUi post)
    : view_(view), socket_(socket), session_(session), shared_(shared), messages_(messages),
      settings_(settings), dialler_(std::move(dialler)), post_(std::move(post)),
      replies_([this](std::string_view text, bool early) { HandleSmtpReply(session_, text, early); }) {
    if (messages_.empty()) messages_.emplace_back();
    // "Connecting securely..." and "Logging on..." come from the session's thread.
    session_.SetStatusSink([this](std::string_view text) {
        post_([this, status = std::string(text), send = sendNumber_.load()] {
            if (send == sendNumber_.load() && step_ != SendStep::Idle) view_.ShowStatus(status);
        });
    });
}

SendFlow::~SendFlow() {
    // Whatever is still being written stops within one send; the reply worker, a member, is joined
    // after this body.
    shared_.SendAborted.store(true);
    JoinWorker();
    // The socket component leaves an open socket to WinSock's clean-up; a send ended by closing the
    // program must not.
    if (socket_.SocketHandle() != -1) socket_.Disconnect();
}

std::string_view FinalStatusText(const SendOutcome& outcome, bool userCancelled) {
    if (outcome.Accepted()) return send_text::Sent;
    // What the server said, or the failure's own text, comes before the user's Cancel.
    if (!outcome.text.empty()) return outcome.text;
    return userCancelled ? send_text::Cancelled : send_text::NotSent;
}

void SendFlow::SetStep(SendStep next) {
    const SendStep previous = step_;
    if (previous == next) return;
    step_ = next;
    // Nothing of this send may be left for the next one, and an observer of the change already sees so.
    if (next == SendStep::Idle) {
        shared_.SendAborted.store(false);
        userCancelled_ = false;
        connectPending_ = false;
        asking_.store(false);
        deciding_ = false;
        sendSocket_ = -1;
        busyShown_ = false;
    }
    if (OnStep) OnStep(previous, next);

    switch (next) {
    case SendStep::Idle:
        // Only now does a click send again, so only now does the button say so. A dial that failed has
        // left the outcome as the click cleared it: not sent.
        view_.ShowBusy(false);
        view_.Done(messages_.front().Outcome.Accepted());
        break;
    case SendStep::Ending:
        endingSince_ = std::chrono::steady_clock::now();
        // The idle tick keeps running until the end: it stops a transfer that outlives the connection.
        view_.RunTimers(true, false);
        view_.ShowProgress(100);
        break;
    case SendStep::HangingUp:
        view_.ShowStatus(send_text::HangingUp);
        dialler_.hangUp(false);
        break;
    case SendStep::Dialling:
    case SendStep::Connecting:
    case SendStep::Exchanging:
        // Their work is the worker's and the session's, which report back through events.
        break;
    }
}

void SendFlow::JoinWorker() {
    if (worker_.joinable()) worker_.join();
}

bool SendFlow::CheckMessage() {
    // A send that cannot succeed starts nothing and says why.
    const MailMessage& message = messages_.front();
    if (message.Recipients.empty()) {
        view_.ShowStatus(NoRecipientText);
        return false;
    }
    for (const std::string& path : message.Attachments) {
        if (!Readable(path)) {
            view_.ShowStatus(std::string(send_text::UnreadableAttachment) + path);
            return false;
        }
    }
    return true;
}

void SendFlow::OnClick() {
    if (busyShown_) return OnCancel();
    // No second send while one is being prepared: the button does not offer Cancel yet.
    if (step_ != SendStep::Idle) return;
    view_.ShowStatus(send_text::Creating);
    view_.Compose(messages_.front());
    // The session clears it too, but a dial that fails never reaches the session.
    messages_.front().Outcome = {};
    if (!CheckMessage()) return;

    // Nothing of an earlier send may cut this one short.
    shared_.IdleTicks.store(0);
    shared_.SendAborted.store(false);
    Job job;
    job.server = settings_.SMTPServer;
    job.port = settings_.SMTPPort;
    job.useDialup = settings_.UseDialup;
    job.dialEntry = settings_.DialEntry;
    job.dialPassword = settings_.DialPassword;
    SessionSecurity security = view_.SecurityFor(job.server);
    if (security.logOn == LogOnMethod::OAuth2) {
        job.oauth = true;
        job.signIn = view_.OAuthFor();
        job.mode = security.mode;
        job.user = security.user;
    }
    session_.SetSecurity(std::move(security));
    job_ = job;
    tokenRetried_ = false;
    dialled_ = job.useDialup;
    userCancelled_ = false;
    StartWorker(job);
}

void SendFlow::StartWorker(const Job& job) {
    sendSocket_ = -1;
    pendingFailure_.clear();
    drainQueued_ = false;
    drained_ = false;
    shared_.IdleTicks.store(0);
    shared_.SendAborted.store(false);
    const unsigned send = sendNumber_.fetch_add(1) + 1;
    // The last send ended only once its worker had posted its last report: this join waits at most for
    // the worker's return.
    JoinWorker();
    // Nothing of an earlier connection may linger into this one.
    if (socket_.SocketHandle() != -1) socket_.Disconnect();
    connectPending_ = true;
    SetStep(job.useDialup ? SendStep::Dialling : SendStep::Connecting);
    worker_ = std::thread([this, job, send] { RunWorker(job, send); });
}

void SendFlow::OnCancel() {
    if (!busyShown_) return;
    // The next idle tick ends the send.
    userCancelled_ = true;
    shared_.SendAborted.store(true);
}

// The worker: dial, then connect; the window's changes go through post_.
void SendFlow::RunWorker(const Job& job, unsigned send) {
    post_([this] { view_.ShowProgress(0); });
    if (job.useDialup) {
        post_([this] { view_.ShowStatus(send_text::Dialling); });
        dialler_.load();
        const std::string error = dialler_.dial(job.dialEntry, "", job.dialPassword);
        if (!error.empty()) {
            post_([this, send, error] { DialFailed(send, error); });
            return;
        }
    }
    post_([this, send] { Dialled(send); });
    if (job.oauth && !SignInForSend(job, send)) {
        post_([this, send] { ConnectStepDone(send); });
        return;
    }
    // A send that ends at once (a port that is no number) has set SendAborted and its Outcome; the first
    // tick shows it. A failed connect arrives as an error event, handled once this step is over.
    StartSmtpSession(session_, job.server, job.port);
    post_([this, send] { ConnectStepDone(send); });
}

void SendFlow::DialFailed(unsigned send, const std::string& error) {
    if (send != sendNumber_.load() || step_ != SendStep::Dialling) return;
    view_.ShowStatus(error);
    SetStep(SendStep::Idle);
}

void SendFlow::Dialled(unsigned send) {
    if (send != sendNumber_.load()) return;
    if (step_ == SendStep::Dialling) SetStep(SendStep::Connecting);
    busyShown_ = true;
    view_.ShowBusy(true);
    view_.ShowCaption(send_text::Sending);
    view_.RunTimers(true, true);
}

void SendFlow::ConnectStepDone(unsigned send) {
    if (send != sendNumber_.load()) return;
    connectPending_ = false;
    if (step_ == SendStep::Connecting) SetStep(SendStep::Exchanging);
    AbortWithHeldFailure();
    AskIfUndecided();
    TryFinish();
}

bool SendFlow::OwnSocketEvent(int socket) {
    // Notifications queued before a Disconnect still arrive after it: they name a socket that is
    // closed, or they come while no send is connected. Either way they are not this send's.
    const bool connected =
        step_ == SendStep::Connecting || step_ == SendStep::Exchanging || step_ == SendStep::Ending;
    if (!connected || !busyShown_ || socket == -1) return false;
    // The component stores a new socket before it asks for notifications, so the first event of a
    // send finds it there.
    if (sendSocket_ == -1) sendSocket_ = socket_.SocketHandle();
    return socket == sendSocket_;
}

void SendFlow::OnData(int socket) {
    // Once the send is ending, a text read now would reach the session after its outcome was taken.
    if (!OwnSocketEvent(socket) || step_ == SendStep::Ending) return;
    view_.RestartTick();
    std::array<char, ReceiveBufferSize> buffer{};
    socket_.Receive(buffer.data(), ReceiveBufferSize);
    // Read after the text arrived: set now, it was set when the server sent it.
    const bool early = shared_.Transferring.load();
    // The count is not used: the text ends at the first zero byte, and a failed read leaves none.
    replies_.Post(std::string(buffer.data(), strnlen(buffer.data(), buffer.size())), early);
    replies_.Then([this, send = sendNumber_.load()] { post_([this, send] { ReplyHandled(send); }); });
}

void SendFlow::ReplyHandled(unsigned send) {
    ++textsHandled_;
    if (send != sendNumber_.load() || step_ != SendStep::Exchanging) return;
    // The session has closed the connection itself (after the server's answer to "QUIT", or after a
    // failure): no close event follows, so the send ends now.
    if (session_.State() == SessionState::Idle && socket_.SocketHandle() == -1) return BeginEnding();
    AskIfUndecided();
}

void SendFlow::OnClose(int socket) {
    if (OwnSocketEvent(socket)) BeginEnding();
}

void SendFlow::OnError(int socket, const std::string& text) {
    if (!OnUiThread()) {
        // A call of the send's own failed (a command, a connect) while a worker ran the session: handled
        // once the worker's call has returned, never from inside it.
        post_([this, send = sendNumber_.load(), text] { Failure(send, text); });
        return;
    }
    // On this thread it may be a notification of a socket closed before.
    if (!OwnSocketEvent(socket)) return;
    // Also a failed "QUIT" inside an abort lands here: posted, it finds the abort done.
    post_([this, send = sendNumber_.load(), text] { Failure(send, text); });
}

void SendFlow::Failure(unsigned send, const std::string& text) {
    if (send != sendNumber_.load() || step_ == SendStep::Idle || step_ == SendStep::Dialling) return;
    if (connectPending_) {
        // A worker holds the session: the abort waits for it instead of holding up this thread.
        if (pendingFailure_.empty()) pendingFailure_ = text;
        return;
    }
    AbortSmtpSession(session_, text);
}

void SendFlow::AskIfUndecided() {
    if (asking_.load() || deciding_ || step_ != SendStep::Exchanging || shared_.SendAborted.load()) return;
    const std::optional<CertificateReport> question = session_.CertificateQuestion();
    if (!question) return;
    asking_.store(true);
    if (const std::optional<bool> answer = view_.TrustFor(job_.server, *question)) AnswerCertificate(*answer);
}

void SendFlow::AnswerCertificate(bool trusted) {
    if (!asking_.exchange(false) || step_ != SendStep::Exchanging) return;
    // The decision writes (EHLO after a trust): on the worker that handles the replies, as they do.
    // Until it has been made the session still waits, and no reply handled meanwhile may ask again.
    deciding_ = true;
    replies_.Then([this, trusted] { session_.DecideCertificate(trusted); });
    replies_.Then([this, send = sendNumber_.load()] {
        post_([this, send] {
            if (send != sendNumber_.load()) return;
            deciding_ = false;
            ReplyHandled(send);
        });
    });
}

void SendFlow::AbortWithHeldFailure() {
    if (pendingFailure_.empty()) return;
    const std::string text = std::move(pendingFailure_);
    pendingFailure_.clear();
    AbortSmtpSession(session_, text);
}

void SendFlow::OnTick() {
    if (!asking_.load() && !signingIn_.load()) shared_.IdleTicks.fetch_add(1);
    if (step_ == SendStep::Ending) {
        // After the server's close a transfer still going on can never be accepted: it gets a grace
        // period, then it is stopped (after a cancel or a failure it has stopped already).
        if (std::chrono::steady_clock::now() - endingSince_ >= ReplyDrainLimit)
            shared_.SendAborted.store(true);
        TryFinish();
        return;
    }
    if (step_ != SendStep::Connecting && step_ != SendStep::Exchanging) return;
    if (shared_.SendAborted.load()) return BeginEnding();
    // The connect step (a name lookup may take seconds) holds the session: an abort now would wait
    // for it here. The count goes on, so the time-out follows as soon as the step is over. While the
    // user is asked about the certificate nothing counts and nothing times out.
    if (connectPending_ || asking_.load()) return;
    // A session that closed the connection itself raises no close event.
    if (session_.State() == SessionState::Idle && socket_.SocketHandle() == -1) return BeginEnding();
    if (shared_.IdleTicks.load() >= timeoutTicks_) {
        shared_.IdleTicks.store(0);
        AbortSmtpSession(session_, std::string(TimeOutText));
    }
}

void SendFlow::OnProgressTick() {
    const std::int64_t total = shared_.BytesTotal.load();
    if (total != 0) view_.ShowProgress(ProgressPercent(shared_.BytesSent.load(), total));
}

void SendFlow::BeginEnding() {
    if (step_ != SendStep::Connecting && step_ != SendStep::Exchanging) return;
    // An open question ends with the send, unanswered: no lock is held while it is open, so this never
    // waits, and the send's own end (a cancel, a failure, the server's close) tells the outcome.
    if (asking_.exchange(false)) {
        shared_.SendAborted.store(true);
        session_.DecideCertificate(false);
    }
    SetStep(SendStep::Ending);
    TryFinish();
}

void SendFlow::TryFinish() {
    if (step_ != SendStep::Ending) return;
    // The worker posts here again when it returns.
    if (connectPending_) return;
    // Replies read before the end decide the outcome: the session sees them first. A transfer being
    // written stops within one send once SendAborted is set.
    if (!drained_ && !replies_.WaitIdle(std::chrono::milliseconds(0))) {
        if (!drainQueued_) {
            drainQueued_ = true;
            replies_.Then([this, send = sendNumber_.load()] {
                post_([this, send] {
                    if (send != sendNumber_.load()) return;
                    drained_ = true;
                    TryFinish();
                });
            });
        }
        return;
    }
    Finish();
}

void SendFlow::Finish() {
    if (RetryWithRenewedToken()) return;
    view_.RunTimers(false, false);
    // Also after the server closed: no socket may be left for the next connect.
    if (socket_.SocketHandle() != -1) socket_.Disconnect();
    if (dialled_) SetStep(SendStep::HangingUp);
    view_.ShowStatus(FinalStatusText(messages_.front().Outcome, userCancelled_));
    SetStep(SendStep::Idle);
}

} // namespace tarvel
