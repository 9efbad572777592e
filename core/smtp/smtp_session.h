// The SMTP client: delivers the records of a MessageList over one connection, driven by the
// server's replies, and records how each record's send ended in its Outcome.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "core/mail/message.h"
#include "core/oauth/sasl.h"
#include "core/mail/message_stamp.h"
#include "core/smtp/reply_assembler.h"
#include "core/smtp/send_state.h"
#include "core/smtp/session_security.h"
#include "core/smtp/smtp_connection.h"

namespace tarvel {

// What the session waits for; the numbers are part of the session's contract.
enum class SessionState : int {
    Idle = 0,     // nothing; replies are ignored
    Greeting = 1, // the server's greeting
    Helo = 2,     // the reply to "HELO" or "RSET"
    MailFrom = 3, // the reply to "MAIL FROM"
    RcptTo = 4,   // the reply to "RCPT TO"
    Data = 5,     // the reply to "DATA"
    DataEnd = 6,  // the reply to the end of the message text
    Quit = 7,     // the reply to "QUIT"
    // Only when the connection is secured or a user name is set:
    Ehlo = 8,       // the reply to "EHLO"
    StartTls = 9,   // the reply to "STARTTLS"
    Auth = 10,      // the outcome of a log-on: the reply to "AUTH PLAIN" or to the password
    AuthLogin = 11, // the request for the user name after "AUTH LOGIN"
    AuthUser = 12,  // the request for the password after the user name
    // OAuth 2.0 (OAUTHBEARER or XOAUTH2):
    AuthBearer = 13,      // the outcome of the log-on: the reply to the initial response
    AuthBearerReady = 14, // the 334 after an AUTH line too long to carry the initial response
    AuthBearerError = 15, // the final reply after answering a 334 that carried an error
    TrustQuestion = 16,   // the handshake is done, the certificate waits for the user's decision
};

const char* SessionStateName(SessionState state);

// The texts of failed outcomes that are no words of the system's or the server's: the send timed out,
// and failures that the session finds itself.
inline constexpr std::string_view TimeOutText = "TimeOut";
inline constexpr std::string_view NoRecipientText = "No recipient address to send the mail to";
inline constexpr std::string_view ReplyTooLongText =
    "The server sent more than 64 KiB without ending its reply";
inline constexpr std::string_view LineBreakInCommandText = "A command to the server would hold a line break";
// Before the server's words: it answered while the message text was still being written.
inline constexpr std::string_view EarlyReplyText = "The server answered before the whole message was sent: ";

// Before the problem the certificate check found, when nobody trusted the certificate.
inline constexpr std::string_view CertificateRefusedText = "The server's certificate was not accepted: ";

// What a refusal before the stream is encrypted shows instead of the server's own words.
std::string PreTlsRefusalText(int code);

class SmtpSession {
public:
    SmtpSession(SmtpConnection& connection, MessageList& messages, SendSignals& state);
    SmtpSession(const SmtpSession&) = delete;
    SmtpSession& operator=(const SmtpSession&) = delete;

    // Clears the records' Outcome and the byte counters and starts the connect. False when the send
    // ended at once: a port that is no number or service (Outcome holds the error's text) or no record
    // to send; SendAborted is set then.
    bool Start(const std::string& server, const std::string& port);
    // Takes one chunk of received text; acts on every reply that it completes, in order. Runs on
    // one worker at a time; may write the whole message text before it returns. `early`: the chunk was
    // read while the message text was still being written (SendSignals::Transferring), so no reply it
    // completes can answer the end-of-data line.
    void HandleReply(std::string_view chunk, bool early = false);
    // A local failure (socket error text, "TimeOut"): stops all writing, and ends the session with
    // "QUIT" when no transfer was under way. It waits for a running HandleReply, which stops within
    // one send once SendAborted is set. Never call it from inside Start or HandleReply: a failure that
    // the connection reports while they run (a failed command send) is queued by the caller and
    // handed here after they return.
    void Abort(const std::string& text);

    // How the next Start secures the connection and logs on; None and no user: plain HELO as always.
    // The password is wiped as soon as it has been sent or the session ends.
    void SetSecurity(SessionSecurity security);
    // Where each send's Date and Message-ID come from: the system's clock unless a test fixes them.
    void SetStampSource(std::function<StampInputs()> source) { stampSource_ = std::move(source); }
    // Receives "Connecting securely..." and "Logging on..." on the session's thread.
    void SetStatusSink(std::function<void(std::string_view)> sink) { statusSink_ = std::move(sink); }
    // Told of every change of the state, on the thread that makes it, while the session's lock is held:
    // for tests and a debug log. Set it before the session starts.
    std::function<void(SessionState from, SessionState to)> OnStateChange;

    // In TrustQuestion: the report on the certificate that the user is to decide on. Never waits for a
    // transfer under way.
    std::optional<CertificateReport> CertificateQuestion();
    // The decision on that certificate: trusted, the stream is encrypted and the session goes on as
    // after a handshake that passed the check; otherwise (or once the send is aborted) it ends with
    // CertificateRefusedText. Nothing when the session no longer waits for it.
    void DecideCertificate(bool trusted);

    SessionState State() const { return state_.load(); }
    // The last send's OAuth 2.0 log-on was refused because the token was invalid or had expired (the
    // server's 334 error said so): a renewed token on a new connection may succeed.
    bool BearerTokenRefused() const { return bearerTokenRefused_.load(); }
    // Received bytes that wait for the end of a reply (takes the session's lock: not from a handler).
    std::size_t PendingReplyBytes();

private:
    void SetState(SessionState next);
    void Send(std::string_view command);
    void OnReply(const SmtpReply& reply);
    void OnGreeting(const SmtpReply& reply);
    void OnHelo(const SmtpReply& reply);
    void OnMailFrom(const SmtpReply& reply);
    void OnRcptTo(const SmtpReply& reply);
    void OnData(const SmtpReply& reply);
    void OnDataEnd(const SmtpReply& reply);
    void OnQuit(const SmtpReply& reply);
    void QuitAndClose();

    // The secure part of the session, in smtp_session_secure.cpp.
    bool UsesEhlo() const;
    void SendHello();
    void OnEhlo(const SmtpReply& reply);
    void OnStartTls(const SmtpReply& reply);
    void OnAuth(const SmtpReply& reply);
    void OnAuthLogin(const SmtpReply& reply);
    void OnAuthUser(const SmtpReply& reply);
    // The OAuth 2.0 log-on, in smtp_session_oauth.cpp.
    void BeginBearerLogOn(const EhloOffer& offer);
    void SendBearerResponse();
    void OnAuthBearer(const SmtpReply& reply);
    void OnAuthBearerReady(const SmtpReply& reply);
    void OnAuthBearerError(const SmtpReply& reply);
    // The handshake; false when it failed, which has then ended the session, or when its certificate
    // waits for the user's decision (TrustQuestion).
    bool BeginTls();
    // A handshake that failed, or a certificate that was not trusted: the session ends with `failure`.
    void EndHandshake(const std::string& failure);
    // A line with the password in it, through the stream's call that refuses unless it is encrypted.
    void SendSecret(const Secret& line);
    // Set up to encrypt, and not encrypted yet: the server's words cannot be trusted.
    bool AwaitsEncryption() const;
    void RefuseBeforeTls(const SmtpReply& reply);
    void ShowStatus(std::string_view text);
    // A failure that ends the whole session, not only the current record: its outcome, then "QUIT".
    void RefuseSession(SendOutcome outcome);

    void SendMailFrom();
    void SendNextRecipient();
    void Refuse(SendOutcome outcome);
    void NextMessage();
    void Transfer();
    // A reply that came before the end-of-data line: the server had not read the whole message, so
    // whatever it says is no acceptance, and the replies after it are out of step.
    void OnEarlyReply(const SmtpReply& reply);
    // A failure of our own: the record fails with the text unless it has an outcome already. An empty
    // text says nothing, so it leaves room for a later failure that does.
    void RecordLocalFailure(std::string_view text);
    // What a local failure does once SendAborted is set: "QUIT" and Disconnect unless already idle
    // (or even then: the state went idle only because SendAborted was seen).
    void EndAfterFailure(bool evenIfIdle = false);

    SmtpConnection& connection_;
    MessageList& messages_;
    SendSignals& send_;

    std::mutex mutex_; // one caller at a time changes the variables below
    std::atomic<SessionState> state_{SessionState::Idle};
    ReplyAssembler replies_;
    std::size_t recipientIndex_ = 0;
    std::size_t messageIndex_ = 0;
    MailMessage* current_ = nullptr; // Messages entry messageIndex_; null before the first Start

    SessionSecurity security_;
    std::function<void(std::string_view)> statusSink_;
    std::string server_;
    int port_ = 0; // 0 when the port was given as a service name
    oauth::BearerMechanism bearer_ = oauth::BearerMechanism::OAuthBearer;
    std::atomic<bool> bearerTokenRefused_{false};
    bool encrypted_ = false;
    std::optional<CertificateReport> question_; // the certificate being decided on, in TrustQuestion
    bool smtpUtf8Offered_ = false;              // the last reply to EHLO offered SMTPUTF8
    std::function<StampInputs()> stampSource_ = SystemStampInputs;
    std::uint64_t received_ = 0; // bytes handed to HandleReply since Start
};

// The session's operations under the names the rest of the program knows them by.
inline bool StartSmtpSession(SmtpSession& session, const std::string& server, const std::string& port) {
    return session.Start(server, port);
}
inline void HandleSmtpReply(SmtpSession& session, std::string_view chunk, bool early = false) {
    session.HandleReply(chunk, early);
}
inline void AbortSmtpSession(SmtpSession& session, const std::string& text) {
    session.Abort(text);
}

} // namespace tarvel
