// The SMTP session's state machine: one handler per state, one place that changes the state, and
// the local-failure path shared by the socket's error event, the time-out and a runaway reply.
#include "core/smtp/smtp_session.h"

#include "core/mail/address.h"
#include "core/mail/field_check.h"
#include "core/smtp/socket_writer.h"
#include "core/errors/convert_error.h"

namespace tarvel {

namespace {
constexpr int CodeReady = 220;
constexpr int CodeClosing = 221;
constexpr int CodeOk = 250;
constexpr int CodeWillForward = 251;
constexpr int CodeStartInput = 354;

// RFC 5321 section 4.2.1: 4yz and 5yz replies refuse, whichever code a state happens to expect.
bool Refuses(int code) {
    return code >= 400 && code <= 599;
}
} // namespace

const char* SessionStateName(SessionState state) {
    switch (state) {
    case SessionState::Idle:
        return "Idle";
    case SessionState::Greeting:
        return "Greeting";
    case SessionState::Helo:
        return "Helo";
    case SessionState::MailFrom:
        return "MailFrom";
    case SessionState::RcptTo:
        return "RcptTo";
    case SessionState::Data:
        return "Data";
    case SessionState::DataEnd:
        return "DataEnd";
    case SessionState::Quit:
        return "Quit";
    case SessionState::Ehlo:
        return "Ehlo";
    case SessionState::StartTls:
        return "StartTls";
    case SessionState::Auth:
        return "Auth";
    case SessionState::AuthLogin:
        return "AuthLogin";
    case SessionState::AuthUser:
        return "AuthUser";
    case SessionState::AuthBearer:
        return "AuthBearer";
    case SessionState::AuthBearerReady:
        return "AuthBearerReady";
    case SessionState::AuthBearerError:
        return "AuthBearerError";
    case SessionState::TrustQuestion:
        return "TrustQuestion";
    }
    return "?";
}

SmtpSession::SmtpSession(SmtpConnection& connection, MessageList& messages, SendSignals& state)
    : connection_(connection), messages_(messages), send_(state) {
    connection_.SetCancel(&send_.SendAborted);
}

bool SmtpSession::Start(const std::string& server, const std::string& port) {
    std::lock_guard lock(mutex_);
    connection_.SetAddress(server);
    connection_.SetPort(port.empty() ? "25" : port);

    // A new send must never show the outcome of the one before it.
    for (MailMessage& message : messages_)
        message.Outcome = {};
    send_.BytesSent.store(0);
    send_.BytesTotal.store(0);
    replies_.Clear();
    recipientIndex_ = 0;
    messageIndex_ = 0;
    server_ = server;
    {
        const std::string p = port.empty() ? "25" : port;
        port_ = p.size() <= 5 && p.find_first_not_of("0123456789") == std::string::npos ? std::stoi(p) : 0;
    }
    bearerTokenRefused_.store(false);
    encrypted_ = false;
    smtpUtf8Offered_ = false;
    received_ = 0;
    if (messages_.empty()) {
        current_ = nullptr;
        SetState(SessionState::Idle);
        send_.SendAborted.store(true);
        return false;
    }
    current_ = &messages_.front();
    // A field that would break a command or a header line apart is refused before any connect.
    bool sendable = true;
    for (MailMessage& message : messages_) {
        StampMessage(message, stampSource_());
        std::string unsendable = UnsendableFieldText(message);
        if (unsendable.empty()) unsendable = InvalidDomainText(message);
        if (!unsendable.empty()) message.Outcome = SendOutcome::Failure(unsendable);
        sendable = sendable && unsendable.empty();
    }
    // A NUL cannot be sent in a user name or password: refused before any connect.
    if (const std::string_view problem = CredentialProblem(security_.user, security_.password);
        sendable && !security_.user.empty() && !problem.empty()) {
        current_->Outcome = SendOutcome::Failure(problem);
        sendable = false;
    }
    if (!sendable) {
        WipeSecret(security_.password);
        SetState(SessionState::Idle);
        send_.SendAborted.store(true);
        return false;
    }
    SetState(SessionState::Greeting);

    try {
        connection_.Connect();
    } catch (const ConvertError& error) {
        WipeSecret(security_.password);
        send_.SendAborted.store(true);
        RecordLocalFailure(error.what());
        SetState(SessionState::Idle);
        return false;
    }
    // A connect that fails at once is reported through the connection's error event, which the caller
    // turns into Abort once this call has returned. TLS from the first byte shakes hands right here.
    if (security_.mode == SecurityMode::Implicit) BeginTls();
    return !send_.SendAborted.load();
}

void SmtpSession::HandleReply(std::string_view chunk, bool early) {
    std::lock_guard lock(mutex_);
    received_ += chunk.size();
    if (State() != SessionState::Idle && !send_.SendAborted.load()) {
        replies_.Append(chunk);
        // The transfer ran on this worker, so a chunk read during it is handled only now, when the
        // session already waits for the answer to the end-of-data line.
        const bool beforeEnd = early && State() == SessionState::DataEnd;
        while (State() != SessionState::Idle && !send_.SendAborted.load()) {
            std::optional<SmtpReply> reply = replies_.Next();
            if (!reply) break;
            if (beforeEnd && State() == SessionState::DataEnd)
                OnEarlyReply(*reply);
            else
                OnReply(*reply);
        }
        // A line it started was begun before the server had the message too.
        if (beforeEnd && State() == SessionState::DataEnd) replies_.DropBegun();
        if (State() != SessionState::Idle && replies_.Overflowed() && !send_.SendAborted.exchange(true)) {
            const std::string text(ReplyTooLongText);
            RecordLocalFailure(text);
            EndAfterFailure();
        }
    }
    // A cancel or a failure ends the session's part here; the main window closes the connection.
    if (send_.SendAborted.load()) SetState(SessionState::Idle);
    if (State() == SessionState::Idle) {
        replies_.Clear();
        WipeSecret(security_.password);
    }
}

void SmtpSession::Abort(const std::string& text) {
    // A transfer that the abort interrupts ends in Idle: what counts is the state it found.
    const SessionState before = State();
    if (send_.SendAborted.exchange(true)) return;
    // SendAborted is set, so a running transfer stops within one send and the wait is short.
    std::lock_guard lock(mutex_);
    if (before != SessionState::Idle) RecordLocalFailure(text);
    if (State() == SessionState::TrustQuestion) {
        // Nothing can go out while the certificate waits for a decision, not even "QUIT".
        question_.reset();
        WipeSecret(security_.password);
        SetState(SessionState::Idle);
        connection_.Disconnect();
        return;
    }
    // A reply handled while this waited has made the state Idle on seeing SendAborted; only an
    // interrupted transfer (and a session already over) may end without "QUIT".
    const bool commandsOnly =
        before != SessionState::Idle && before != SessionState::Data && before != SessionState::Quit;
    EndAfterFailure(commandsOnly);
}

std::size_t SmtpSession::PendingReplyBytes() {
    std::lock_guard lock(mutex_);
    return replies_.Pending();
}

void SmtpSession::SetState(SessionState next) {
    const SessionState previous = state_.exchange(next);
    if (previous != next && OnStateChange) OnStateChange(previous, next);
}

void SmtpSession::Send(std::string_view command) {
    // A line break would end the command early and start another one: nothing of it is sent.
    if (command.find_first_of("\r\n") != std::string_view::npos) {
        send_.SendAborted.store(true);
        RecordLocalFailure(LineBreakInCommandText);
        SetState(SessionState::Idle);
        return;
    }
    std::string line(command);
    line += CRLF;
    connection_.SendCommand(line);
}

void SmtpSession::OnReply(const SmtpReply& reply) {
    switch (State()) {
    case SessionState::Idle:
        return;
    case SessionState::Greeting:
        return OnGreeting(reply);
    case SessionState::Helo:
        return OnHelo(reply);
    case SessionState::MailFrom:
        return OnMailFrom(reply);
    case SessionState::RcptTo:
        return OnRcptTo(reply);
    case SessionState::Data:
        return OnData(reply);
    case SessionState::DataEnd:
        return OnDataEnd(reply);
    case SessionState::Quit:
        return OnQuit(reply);
    case SessionState::Ehlo:
        return OnEhlo(reply);
    case SessionState::StartTls:
        return OnStartTls(reply);
    case SessionState::Auth:
        return OnAuth(reply);
    case SessionState::AuthLogin:
        return OnAuthLogin(reply);
    case SessionState::AuthUser:
        return OnAuthUser(reply);
    case SessionState::AuthBearer:
        return OnAuthBearer(reply);
    case SessionState::AuthBearerReady:
        return OnAuthBearerReady(reply);
    case SessionState::AuthBearerError:
        return OnAuthBearerError(reply);
    case SessionState::TrustQuestion:
        // The stream reads nothing until the certificate is decided on.
        return;
    }
}

// Each handler changes the state before it sends, so that the state is right whatever the send does.

void SmtpSession::OnGreeting(const SmtpReply& reply) {
    if (reply.code == CodeReady) {
        SendHello();
    } else if (Refuses(reply.code)) {
        if (AwaitsEncryption()) return RefuseBeforeTls(reply);
        // The server refuses the whole session: no transaction to go on with.
        current_->Outcome = SendOutcome::Refusal(reply.text);
        SetState(SessionState::Quit);
        Send("QUIT");
    }
}

void SmtpSession::OnHelo(const SmtpReply& reply) {
    if (reply.code == CodeOk) {
        if (current_->Recipients.empty()) return Refuse(SendOutcome::Failure(NoRecipientText));
        SendMailFrom();
    } else if (Refuses(reply.code)) {
        Refuse(SendOutcome::Refusal(reply.text));
    }
}

void SmtpSession::OnMailFrom(const SmtpReply& reply) {
    if (reply.code == CodeOk) {
        if (current_->Recipients.empty()) return Refuse(SendOutcome::Failure(NoRecipientText));
        SendNextRecipient();
    } else if (Refuses(reply.code)) {
        Refuse(SendOutcome::Refusal(reply.text));
    }
}

void SmtpSession::OnRcptTo(const SmtpReply& reply) {
    if (reply.code != CodeOk && reply.code != CodeWillForward)
        return Refuse(SendOutcome::Refusal(reply.text));
    if (recipientIndex_ < current_->Recipients.size()) return SendNextRecipient();
    SetState(SessionState::Data);
    Send("DATA");
}

void SmtpSession::OnData(const SmtpReply& reply) {
    if (reply.code != CodeStartInput) return Refuse(SendOutcome::Refusal(reply.text));
    Transfer();
}

void SmtpSession::OnDataEnd(const SmtpReply& reply) {
    if (reply.code != CodeOk) return Refuse(SendOutcome::Refusal(reply.text));
    current_->Outcome = SendOutcome::Accept();
    NextMessage();
}

void SmtpSession::OnEarlyReply(const SmtpReply& reply) {
    // A 250 here is no acceptance: it is told as our failure, with the server's words after ours.
    current_->Outcome = reply.code == CodeOk ? SendOutcome::Failure(std::string(EarlyReplyText) + reply.text)
                                             : SendOutcome::Refusal(reply.text);
    EndAfterFailure();
}

void SmtpSession::OnQuit(const SmtpReply& reply) {
    if (reply.code != CodeClosing) return QuitAndClose();
    // The session is over: a server that keeps the connection open after its 221 must not keep the
    // send waiting for its close.
    SetState(SessionState::Idle);
    connection_.Disconnect();
}

void SmtpSession::QuitAndClose() {
    SetState(SessionState::Idle);
    Send("QUIT");
    connection_.Disconnect();
}

void SmtpSession::SendMailFrom() {
    // A mailbox beyond ASCII has no ASCII form: only a server that offers SMTPUTF8 can take it.
    const std::string utf8Address = SmtpUtf8Address(*current_);
    if (!utf8Address.empty() && !smtpUtf8Offered_)
        return Refuse(SendOutcome::Failure(NoSmtpUtf8Text(utf8Address)));
    SetState(SessionState::MailFrom);
    Send("MAIL FROM: <" + AddressToAscii(current_->Sender) + ">" + (utf8Address.empty() ? "" : " SMTPUTF8"));
}

void SmtpSession::SendNextRecipient() {
    // Sent exactly as it stands in the list, blanks included; only a domain beyond ASCII is rewritten,
    // as its A-labels, which every server takes.
    const std::string address = AddressToAscii(current_->Recipients[recipientIndex_]);
    ++recipientIndex_;
    SetState(SessionState::RcptTo);
    Send("RCPT TO: <" + address + ">");
}

void SmtpSession::Refuse(SendOutcome outcome) {
    current_->Outcome = std::move(outcome);
    NextMessage();
}

void SmtpSession::NextMessage() {
    ++messageIndex_;
    if (messageIndex_ < messages_.size()) {
        current_ = &messages_[messageIndex_];
        recipientIndex_ = 0;
        // The server's 250 to "RSET" starts the next transaction as a 250 to "HELO" would.
        SetState(SessionState::Helo);
        Send("RSET");
    } else {
        SetState(SessionState::Quit);
        Send("QUIT");
    }
}

void SmtpSession::Transfer() {
    send_.BytesSent.store(0);
    send_.BytesTotal.store(EstimateMessageSize(*current_));

    SocketWriter writer(connection_, send_);
    WriteFailure failure;
    send_.Transferring.store(true);
    const bool written = WriteMessage(*current_, writer, send_.SendAborted, &failure);
    // From here on a reply may answer the end-of-data line (if it goes out at all).
    send_.Transferring.store(false);
    if (!written) {
        // The server must not accept a partial message: no end-of-data line, and no command either,
        // which it would take for message text. The main window closes the connection.
        send_.SendAborted.store(true);
        writer.Discard();
        RecordLocalFailure(failure.reason.empty() ? failure.path : failure.path + ": " + failure.reason);
        SetState(SessionState::Idle);
        return;
    }
    if (!send_.SendAborted.load()) {
        SetState(SessionState::DataEnd);
        // Only a reply sent after the server has read the end-of-data line answers it: whatever came
        // with the 354, a started line included, was written before the server had the message.
        replies_.DropBegun();
        writer.WriteEndOfData();
    }
    if (send_.SendAborted.load()) {
        // Cancelled, timed out or the connection failed: the transfer ends here without a command.
        writer.Discard();
        if (writer.Failed()) RecordLocalFailure(writer.FailureText());
        SetState(SessionState::Idle);
    }
}

void SmtpSession::RecordLocalFailure(std::string_view text) {
    if (current_ != nullptr && !current_->Outcome.Decided() && !text.empty())
        current_->Outcome = SendOutcome::Failure(text);
}

void SmtpSession::EndAfterFailure(bool evenIfIdle) {
    replies_.Clear();
    WipeSecret(security_.password);
    if (State() == SessionState::Idle && !evenIfIdle) return;
    // As after a reply other than 221 to "QUIT": one more "QUIT", then the connection is closed.
    SetState(SessionState::Quit);
    QuitAndClose();
}

} // namespace tarvel
