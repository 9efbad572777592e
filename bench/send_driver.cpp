// The main window's part of a send (read 4096 bytes per data event, hand them to the reply worker,
// abort on a socket error, the one-second idle tick) on a plain message loop.
#include "bench/send_driver.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace tarvel::bench {

namespace {
constexpr int ReceiveBufferSize = 4096;
// How long the end of a send waits for replies read before the close to be handled.
constexpr std::chrono::milliseconds ReplyDrainLimit{3000};
// Messages dispatched between two looks at the clock.
constexpr int MessagesPerRound = 64;
} // namespace

SendDriver::SendDriver(MessageList& messages)
    : messages_(messages), session_(sockets_, messages, send_),
      replies_([this](std::string_view text) { HandleSmtpReply(session_, text); }) {
    sockets_.OnDataAvailable = [this](TSockets&, int) { DataAvailable(); };
    // Also raised on a worker, when one of its own sends fails: the session allows for both.
    sockets_.OnErrorOccurred = [this](TSockets&, int, int, const std::string& msg) {
        AbortSmtpSession(session_, msg);
    };
    sockets_.OnSessionClosed = [this](TSockets&, int) { Finish(); };
}

SendDriver::~SendDriver() {
    // The reply worker is stopped first (last member); a transfer it runs must stop within one send.
    send_.SendAborted.store(true);
    if (sendWorker_.joinable()) sendWorker_.join();
}

SendOutcome SendDriver::Run(const std::string& server, const std::string& port,
                            std::chrono::milliseconds limit) {
    if (sendWorker_.joinable()) sendWorker_.join();
    if (sockets_.SocketHandle() != -1) sockets_.Disconnect();
    send_.IdleTicks.store(0);
    send_.SendAborted.store(false);
    sending_ = true;

    const Clock::time_point started = Clock::now();
    const Clock::time_point deadline = started + limit;
    nextTick_ = started + TickInterval;
    // As the window's send worker does: a slow name lookup never holds up the message loop.
    sendWorker_ = std::thread([this, server, port] { StartSmtpSession(session_, server, port); });

    bool overran = false;
    while (sending_) {
        const Clock::time_point now = Clock::now();
        if (now >= deadline) {
            overran = true;
            send_.SendAborted.store(true);
            Finish();
            break;
        }
        if (now >= nextTick_) {
            nextTick_ += TickInterval;
            Tick();
            continue;
        }
        Pump(std::min(nextTick_, deadline));
    }
    sendWorker_.join();

    SendOutcome outcome;
    outcome.ended = !overran;
    outcome.status = messages_.empty() ? std::string() : messages_.front().Status;
    outcome.seconds = std::chrono::duration<double>(ended_ - started).count();
    return outcome;
}

void SendDriver::Pump(Clock::time_point until) {
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(std::max<long long>(wait.count(), 0)),
                              QS_ALLINPUT);
    MSG msg;
    for (int i = 0; i < MessagesPerRound && sending_ && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

void SendDriver::DataAvailable() {
    // Data restarts the idle tick a full interval later, as the window's Timer1 restart does.
    if (sending_) nextTick_ = Clock::now() + TickInterval;
    std::array<char, ReceiveBufferSize> buffer{};
    sockets_.SReceive(sockets_.SocketHandle(), buffer.data(), ReceiveBufferSize);
    // The text ends at the first zero byte; a failed read leaves none.
    replies_.Post(std::string(buffer.data(), strnlen(buffer.data(), buffer.size())));
}

void SendDriver::Tick() {
    send_.IdleTicks.fetch_add(1);
    if (send_.SendAborted.load()) return Finish();
    if (send_.IdleTicks.load() >= TimeoutTicks) {
        send_.IdleTicks.store(0);
        AbortSmtpSession(session_, "TimeOut");
    }
}

void SendDriver::Finish() {
    if (!sending_) return;
    ended_ = Clock::now();
    // Replies read before the close decide the outcome; a transfer that does not end by itself is stopped.
    if (!replies_.WaitIdle(ReplyDrainLimit)) {
        send_.SendAborted.store(true);
        replies_.WaitIdle(ReplyDrainLimit);
    }
    if (sockets_.SocketHandle() != -1) sockets_.Disconnect();
    send_.SendAborted.store(false);
    sending_ = false;
}

} // namespace tarvel::bench
