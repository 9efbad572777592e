// One whole send through the program's own send flow (core/send/send_flow.h) over the real socket component,
// with a view that keeps the flow's timers on a plain message loop instead of a window: for the delivery
// test and the send benchmark.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "core/send/send_flow.h"
#include "core/config/settings.h"
#include "core/mail/message.h"
#include "core/smtp/send_state.h"
#include "core/smtp/smtp_session.h"
#include "platform/client_socket.h"
#include "platform/tls_connection.h"

namespace tarvel::bench {

struct RunResult {
    bool ended = false;  // the send ended by itself (server closed, aborted, timed out) within the limit
    SendOutcome outcome; // Messages entry 0's after the send
    std::string shown;   // the last status text the flow showed
    double seconds = 0;  // from the click to the end of the send
};

// Owns the socket component, the session and the flow for one thread, which must call Run().
class SendDriver : private SendView {
public:
    // The window's timers: the idle tick and the progress bar.
    static constexpr std::chrono::milliseconds TickInterval{1000};
    static constexpr std::chrono::milliseconds ProgressInterval{100};

    // `messages` entry 0 is sent as it stands.
    explicit SendDriver(MessageList& messages);
    ~SendDriver() override;
    SendDriver(const SendDriver&) = delete;
    SendDriver& operator=(const SendDriver&) = delete;

    // Starts a send to server:port and dispatches this thread's messages until the send has ended or
    // `limit` has passed; a send still running then is cancelled.
    RunResult Run(const std::string& server, const std::string& port, std::chrono::milliseconds limit);

    SendSignals& Signals() { return send_; }
    SmtpSession& Session() { return session_; }
    ClientSocket& Sockets() { return sockets_; }
    TlsConnection& Tls() { return tls_; }
    SendFlow& Flow() { return flow_; }
    // How the next sends are secured; plain unless set.
    void SetSecurity(SessionSecurity security) { security_ = std::move(security); }
    // The user's part in a send: the answer about a certificate that failed the check, asked on the
    // thread that runs Run (nullopt: answered later through Flow().AnswerCertificate). Unset: refused.
    std::function<std::optional<bool>(const std::string& server, const CertificateReport& report)>
        OnTrustQuestion;

private:
    using Clock = std::chrono::steady_clock;

    void Compose(MailMessage&) override {}
    void ShowStatus(std::string_view text) override { shown_ = text; }
    void ShowCaption(std::string_view text) override { shown_ = text; }
    void ShowProgress(int) override {}
    void ShowBusy(bool) override {}
    void RunTimers(bool tick, bool progress) override;
    void RestartTick() override { nextTick_ = Clock::now() + TickInterval; }
    void Done(bool) override;
    SessionSecurity SecurityFor(const std::string&) override { return security_; }
    std::optional<bool> TrustFor(const std::string& server, const CertificateReport& report) override {
        return OnTrustQuestion ? OnTrustQuestion(server, report) : std::optional<bool>(false);
    }

    // Dispatches what this thread's queue holds, waiting at most until `until` for something to come.
    void Pump(Clock::time_point until);
    // Runs the timers that are due.
    void Ticks();

    MessageList& messages_;
    Settings settings_;
    SessionSecurity security_;
    SendSignals send_;
    ClientSocket sockets_;
    TlsConnection tls_{sockets_};
    SmtpSession session_;
    bool tickOn_ = false;
    bool progressOn_ = false;
    Clock::time_point nextTick_;
    Clock::time_point nextProgress_;
    bool done_ = false;
    Clock::time_point ended_;
    std::string shown_;
    // Last: stopped first, while the session and the socket it uses still exist.
    SendFlow flow_;
};

} // namespace tarvel::bench
