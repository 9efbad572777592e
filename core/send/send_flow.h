// SendFlow: the steps of one send from the click to the final status (dial, connect, exchange with the
// server, end, hang up), driven by events on the user-interface thread and shown through a small view.
// The main window, the benchmark and the tests all drive this one component.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "core/config/settings.h"
#include "core/send/dialler.h"
#include "core/mail/message.h"
#include "core/oauth/sign_in_flow.h"
#include "core/smtp/reply_worker.h"
#include "core/smtp/send_socket.h"
#include "core/smtp/send_state.h"
#include "core/smtp/smtp_session.h"

namespace tarvel {

// The status texts of a send (the failure texts that the session words itself are in
// core/smtp/smtp_session.h).
namespace send_text {
inline constexpr std::string_view Creating = "Creating mail...";
inline constexpr std::string_view Dialling = "Establishing ISP connection...";
inline constexpr std::string_view Sending = "Sending mail...";
inline constexpr std::string_view HangingUp = "Hanging up...";
inline constexpr std::string_view Sent = "Mail has been sent!";
inline constexpr std::string_view Cancelled = "Mail has been cancelled!";
// The connection ended before the server took the message and nothing said why.
inline constexpr std::string_view NotSent = "The connection ended before the mail was sent";
inline constexpr std::string_view UnreadableAttachment = "Cannot read the attachment ";
inline constexpr std::string_view OAuthNeedsUser =
    "Signing in with OAuth 2.0 needs the user name (the account's e-mail address) on the Security page";
inline constexpr std::string_view OAuthUnavailable = "Signing in with OAuth 2.0 is not available here";
} // namespace send_text

// Where a send stands. Only the user-interface thread changes it.
enum class SendStep {
    Idle,       // no send; a click starts one
    Dialling,   // the worker dials; clicks are ignored
    Connecting, // the worker resolves and connects; the session and the socket are its own until it returns
    Exchanging, // the server's replies drive the session
    Ending,     // over for the server; waits for the workers before the outcome is taken
    HangingUp,  // the line the send dialled is being dropped
};

const char* SendStepName(SendStep step);

// The status line at the end of a send: "Mail has been sent!", or the server's reply or the failure's
// text as it stands, or, when nothing said why, whether the user cancelled. The one place where an
// outcome becomes words for the user.
std::string_view FinalStatusText(const SendOutcome& outcome, bool userCancelled);

// What the flow shows; the window's controls, or a test's record of them.
class SendView {
public:
    virtual ~SendView() = default;

    // Fills the record from the compose fields.
    virtual void Compose(MailMessage& message) = 0;
    // The status line and its hint.
    virtual void ShowStatus(std::string_view text) = 0;
    // The status line alone: the hint keeps the text shown before.
    virtual void ShowCaption(std::string_view text) = 0;
    virtual void ShowProgress(int percent) = 0;
    // Busy: the button reads "&Cancel", and a click cancels; otherwise "&Send", and a click sends.
    virtual void ShowBusy(bool busy) = 0;
    // The one-second idle tick and the progress tick run or stop.
    virtual void RunTimers(bool tick, bool progress) = 0;
    // The next idle tick comes a full interval from now.
    virtual void RestartTick() = 0;
    // The send is over; `sent`: the server took the message. Also after a failed dial.
    virtual void Done(bool sent) = 0;
    // Asked on the user-interface thread as a send starts: how to secure the connection to `server` and
    // log on, with the password read from where it is kept. Plain SMTP, as always, unless the view says
    // otherwise.
    virtual SessionSecurity SecurityFor(const std::string& server) {
        (void)server;
        return {};
    }
    // With the OAuth 2.0 log-on (SecurityFor says so): the sign-in that gives the send its access token,
    // kept by the window for the program's life so that one token serves many sends, and the settings
    // it signs in with. Asked on the user-interface thread as a send starts.
    struct OAuthSource {
        oauth::SignIn* signIn = nullptr;
        OAuth2Settings settings;
    };
    virtual OAuthSource OAuthFor() { return {}; }
    // The certificate of `server` failed the check ("trusted, or pinned" is JudgeCertificate's word,
    // core/config/security_config.h): whether to trust it, on the user-interface thread with no lock
    // held. The answer now, or nullopt and later through SendFlow::AnswerCertificate. Refused unless
    // the view says otherwise.
    virtual std::optional<bool> TrustFor(const std::string& server, const CertificateReport& report) {
        (void)server;
        (void)report;
        return false;
    }
};

// Hands work to the user-interface thread, after what is queued there already; safe from any thread.
using PostToUi = std::function<void(std::function<void()>)>;

class SendFlow {
public:
    // Idle ticks without a write of message text before "TimeOut".
    static constexpr int DefaultTimeoutTicks = 30;
    // How long a transfer may go on after the server closed the connection before it is stopped.
    static constexpr std::chrono::milliseconds ReplyDrainLimit{3000};
    // The most that one data event reads.
    static constexpr int ReceiveBufferSize = 4096;

    // Everything it is given outlives it. Construct it on the user-interface thread.
    SendFlow(SendView& view, SendSocket& socket, SmtpSession& session, SendSignals& shared,
             MessageList& messages, const Settings& settings, Dialler dialler, PostToUi post);
    // Stops what is still being written and waits for its workers.
    ~SendFlow();
    SendFlow(const SendFlow&) = delete;
    SendFlow& operator=(const SendFlow&) = delete;

    // The events, all on the user-interface thread except OnError, which may come from any thread.
    void OnClick();
    void OnCancel();
    void OnData(int socket);
    void OnClose(int socket);
    void OnError(int socket, const std::string& text);
    void OnTick();
    void OnProgressTick();

    SendStep Step() const { return step_; }
    // Received texts that the session has handled, as far as this thread has heard.
    unsigned TextsHandled() const { return textsHandled_; }
    bool Busy() const { return step_ != SendStep::Idle; }
    int TimeoutTicks() const { return timeoutTicks_; }
    void SetTimeoutTicks(int ticks) { timeoutTicks_ = ticks; }
    // The answer to TrustFor's question, on the user-interface thread. Dropped once the send no longer
    // waits for it: an abort (a cancel, a failure, the end of the program) ends the question.
    void AnswerCertificate(bool trusted);
    // The send under way (or the last one); what was asked for one send is never answered for another.
    unsigned SendNumber() const { return sendNumber_.load(); }
    // Send `send` asked about a certificate and still waits for the answer. No idle tick counts
    // meanwhile, the user's time being no silence of the server's.
    bool AwaitsCertificateAnswer(unsigned send) const { return asking_.load() && send == sendNumber_.load(); }
    // Told of every change of the step, "from -> to", on the user-interface thread.
    std::function<void(SendStep from, SendStep to)> OnStep;

private:
    // What a send needs of the settings, copied when it starts.
    struct Job {
        std::string server;
        std::string port;
        bool useDialup = false;
        std::string dialEntry;
        std::string dialPassword;
        // With the OAuth 2.0 log-on: the token is asked for after the dial and before the connect.
        bool oauth = false;
        SendView::OAuthSource signIn;
        SecurityMode mode = SecurityMode::None;
        std::string user;
    };

    // Every change of the step goes through here, and so does what entering a step does.
    void SetStep(SendStep next);
    bool OnUiThread() const { return std::this_thread::get_id() == uiThread_; }
    // Whether a socket event belongs to the send under way.
    bool OwnSocketEvent(int socket);
    bool CheckMessage();
    void RunWorker(const Job& job, unsigned send);
    // The OAuth 2.0 part, in send_flow_oauth.cpp. On the worker: the access token into the session, or
    // false with the send aborted (and its outcome set when something failed).
    bool SignInForSend(const Job& job, unsigned send);
    // At the end, on this thread: a token the server refused as invalid or expired is renewed and the
    // send goes again on a new connection, once. True when it does.
    bool RetryWithRenewedToken();
    void StartWorker(const Job& job);
    // Posted by the worker.
    void Dialled(unsigned send);
    void DialFailed(unsigned send, const std::string& error);
    void ConnectStepDone(unsigned send);
    // Posted after each received text has been handled, and for failures.
    void ReplyHandled(unsigned send);
    // The session waits for a decision on the certificate: the view is asked (the worker has returned).
    void AskIfUndecided();
    // The failure held back while a worker held the session (pendingFailure_), if any, now.
    void AbortWithHeldFailure();
    void Failure(unsigned send, const std::string& text);
    void BeginEnding();
    void TryFinish();
    void Finish();
    void JoinWorker();

    SendView& view_;
    SendSocket& socket_;
    SmtpSession& session_;
    SendSignals& shared_;
    MessageList& messages_;
    const Settings& settings_;
    Dialler dialler_;
    PostToUi post_;
    const std::thread::id uiThread_ = std::this_thread::get_id();
    int timeoutTicks_ = DefaultTimeoutTicks;

    SendStep step_ = SendStep::Idle;
    bool busyShown_ = false; // the view reads "&Cancel": a click cancels
    bool dialled_ = false;   // the send under way asked for the dial-up line
    bool userCancelled_ = false;
    bool connectPending_ = false;        // the worker has not yet returned from the connect step
    std::atomic<bool> asking_{false};    // the session waits for the user's answer about a certificate
    bool deciding_ = false;              // the answer is on its way to the session
    std::atomic<bool> signingIn_{false}; // the worker waits for the sign-in: no idle tick counts
    Job job_;                            // the send under way
    bool tokenRetried_ = false;          // it went again once with a renewed token
    std::string pendingFailure_;         // reported while a worker held the session; handled when it lets go
    int sendSocket_ = -1;                // the socket the send opened, once an event has named it
    std::chrono::steady_clock::time_point endingSince_{};
    bool drainQueued_ = false; // the reply worker will report once it has handled every text
    bool drained_ = false;     // and it has
    unsigned textsHandled_ = 0;
    // Tells a late report of an earlier send from one of this send; read by workers.
    std::atomic<unsigned> sendNumber_{0};
    std::thread worker_;
    // Last: stopped first, while everything it uses still exists.
    ReplyWorker replies_;
};

} // namespace tarvel
