// One whole send over the real socket component, driven the way the main window drives it but without a
// window of its own: for the delivery test and the send benchmark.
#pragma once

#include <chrono>
#include <string>
#include <thread>

#include "mail/message.h"
#include "mail/reply_worker.h"
#include "mail/send_state.h"
#include "mail/smtp_session.h"
#include "net/sockets.h"

namespace tarvel::bench {

struct SendOutcome {
    bool ended = false; // the send ended by itself (server closed, aborted, timed out) within the limit
    std::string status; // Messages entry 0's Status after the send
    double seconds = 0; // from the start of the send to its end
};

// Owns the socket component, the session and the reply worker for one thread, which must run Run().
class SendDriver {
public:
    // Timer1's tick and its time-out count, as the main window has them.
    static constexpr std::chrono::milliseconds TickInterval{1000};
    static constexpr int TimeoutTicks = 30;

    explicit SendDriver(MessageList& messages);
    ~SendDriver();
    SendDriver(const SendDriver&) = delete;
    SendDriver& operator=(const SendDriver&) = delete;

    // Starts a send to server:port and dispatches this thread's messages until the send has ended or
    // `limit` has passed; a send still running then is aborted.
    SendOutcome Run(const std::string& server, const std::string& port, std::chrono::milliseconds limit);

    SendState& Shared() { return send_; }
    SmtpSession& Session() { return session_; }
    TSockets& Sockets() { return sockets_; }

private:
    using Clock = std::chrono::steady_clock;

    void DataAvailable();
    void Tick();
    void Finish();
    // Dispatches what this thread's queue holds, a bounded number at a time so that ticks stay on time.
    void Pump(Clock::time_point until);

    MessageList& messages_;
    SendState send_;
    TSockets sockets_;
    SmtpSession session_;
    std::thread sendWorker_;
    bool sending_ = false;
    Clock::time_point nextTick_;
    Clock::time_point ended_;
    // Last: stopped first, while the session and the socket it uses still exist.
    ReplyWorker replies_;
};

} // namespace tarvel::bench
