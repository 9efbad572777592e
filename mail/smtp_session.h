// The SMTP client: delivers the records of a MessageList over one connection, driven by the
// server's replies, and records each record's outcome in its Status.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "mail/message.h"
#include "mail/reply_assembler.h"
#include "mail/send_state.h"
#include "mail/smtp_connection.h"

namespace tarvel {

// What the session waits for; the numbers are part of the session's contract.
enum class SessionState : int {
    ssIdle = 0,     // nothing; replies are ignored
    ssGreeting = 1, // the server's greeting
    ssHelo = 2,     // the reply to "HELO" or "RSET"
    ssMailFrom = 3, // the reply to "MAIL FROM"
    ssRcptTo = 4,   // the reply to "RCPT TO"
    ssData = 5,     // the reply to "DATA"
    ssDataEnd = 6,  // the reply to the end of the message text
    ssQuit = 7,     // the reply to "QUIT"
};

const char* SessionStateName(SessionState state);

// The outcomes written into a record's Status other than the server's own replies: the server took the
// message, the send timed out, and failures that the session finds itself.
inline constexpr std::string_view AcceptedStatus = "OK!";
inline constexpr std::string_view TimeOutText = "TimeOut";
inline constexpr std::string_view NoRecipientText = "No recipient address to send the mail to";
inline constexpr std::string_view ReplyTooLongText =
    "The server sent more than 64 KiB without ending its reply";
inline constexpr std::string_view LineBreakInCommandText = "A command to the server would hold a line break";

class SmtpSession {
public:
    SmtpSession(SmtpConnection& connection, MessageList& messages, SendState& state);
    SmtpSession(const SmtpSession&) = delete;
    SmtpSession& operator=(const SmtpSession&) = delete;

    // Clears the records' Status and the byte counters and starts the connect. False when the send
    // ended at once: a port that is no number or service (Status holds the error's text) or no record
    // to send; SendAborted is set then.
    bool Start(const std::string& server, const std::string& port);
    // Takes one chunk of received text; acts on every reply that it completes, in order. Runs on
    // one worker at a time; may write the whole message text before it returns.
    void HandleReply(std::string_view chunk);
    // A local failure (socket error text, "TimeOut"): stops all writing, and ends the session with
    // "QUIT" when no transfer was under way. It waits for a running HandleReply, which stops within
    // one send once SendAborted is set. Never call it from inside Start or HandleReply: a failure that
    // the connection reports while they run (a failed command send) is queued by the caller and
    // handed here after they return.
    void Abort(const std::string& text);

    // Told of every change of the state, on the thread that makes it, while the session's lock is held:
    // for tests and a debug log. Set it before the session starts.
    std::function<void(SessionState from, SessionState to)> OnStateChange;

    SessionState State() const { return state_.load(); }
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

    void SendNextRecipient();
    void Refuse(std::string_view status);
    void NextMessage();
    void Transfer();
    // A failure of our own: Status takes the text unless the record has an outcome already.
    void RecordLocalFailure(std::string_view text);
    // What a local failure does once SendAborted is set: "QUIT" and Disconnect unless already idle
    // (or even then: the state went idle only because SendAborted was seen).
    void EndAfterFailure(bool evenIfIdle = false);

    SmtpConnection& connection_;
    MessageList& messages_;
    SendState& send_;

    std::mutex mutex_; // one caller at a time changes the variables below
    std::atomic<SessionState> state_{SessionState::ssIdle};
    ReplyAssembler replies_;
    std::size_t recipientIndex_ = 0;
    std::size_t messageIndex_ = 0;
    TEmailMessage* current_ = nullptr; // Messages entry messageIndex_; null before the first Start
};

// The session's operations under the names the rest of the program knows them by.
inline bool StartSmtpSession(SmtpSession& session, const std::string& server, const std::string& port) {
    return session.Start(server, port);
}
inline void HandleSmtpReply(SmtpSession& session, std::string_view chunk) {
    session.HandleReply(chunk);
}
inline void AbortSmtpSession(SmtpSession& session, const std::string& text) {
    session.Abort(text);
}

} // namespace tarvel
