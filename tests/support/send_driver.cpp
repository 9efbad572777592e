// The send flow on a plain message loop: the socket component's window carries the flow's posted work,
// and the loop itself runs the idle and progress ticks that the main window's timers would.
#include "support/send_driver.h"

#include <windows.h>

#include <algorithm>

namespace tarvel::bench {

namespace {
// How long a cancelled send may take to end after the limit.
constexpr std::chrono::seconds CancelGrace{10};
} // namespace

SendDriver::SendDriver(MessageList& messages)
    // Every socket event has a handler here, so no service of the socket's is ever asked for.
    : messages_(messages), sockets_(Services{}), session_(tls_, messages, send_),
      flow_(*this, tls_, session_, send_, messages, settings_, Dialler{},
            [this](std::function<void()> work) { sockets_.Post(std::move(work)); }) {
    sockets_.SetMaximumReceiveLength(8192);
    sockets_.OnDataAvailable = [this](ClientSocket&, int socket) { flow_.OnData(socket); };
    sockets_.OnSessionClosed = [this](ClientSocket&, int socket) { flow_.OnClose(socket); };
    sockets_.OnErrorOccurred = [this](ClientSocket&, int socket, int, const std::string& msg) {
        flow_.OnError(socket, msg);
    };
}

SendDriver::~SendDriver() {
    WipeSecret(security_.password);
}

void SendDriver::RunTimers(bool tick, bool progress) {
    const Clock::time_point now = Clock::now();
    if (tick && !tickOn_) nextTick_ = now + TickInterval;
    if (progress && !progressOn_) nextProgress_ = now + ProgressInterval;
    tickOn_ = tick;
    progressOn_ = progress;
}

void SendDriver::Done(bool) {
    done_ = true;
    ended_ = Clock::now();
}

RunResult SendDriver::Run(const std::string& server, const std::string& port,
                          std::chrono::milliseconds limit) {
    settings_.SMTPServer = server;
    settings_.SMTPPort = port;
    done_ = false;
    shown_.clear();

    const Clock::time_point started = Clock::now();
    flow_.OnClick();
    bool overran = false;
    Clock::time_point deadline = started + limit;
    while (!done_) {
        if (!flow_.Busy()) break; // refused before it started (no recipient, unreadable attachment)
        if (Clock::now() >= deadline) {
            if (overran) break;
            overran = true;
            flow_.OnCancel();
            deadline = Clock::now() + CancelGrace;
        }
        Ticks();
        // A tick may end the send (after an abort, or a connection the session closed itself); the wait
        // below would then last until the next message or the limit, and none may come.
        if (done_) break;
        Clock::time_point until = deadline;
        if (tickOn_) until = std::min(until, nextTick_);
        if (progressOn_) until = std::min(until, nextProgress_);
        Pump(until);
    }

    RunResult result;
    result.ended = done_ && !overran;
    if (!messages_.empty()) result.outcome = messages_.front().Outcome;
    result.shown = shown_;
    result.seconds = std::chrono::duration<double>((done_ ? ended_ : Clock::now()) - started).count();
    return result;
}

void SendDriver::Ticks() {
    const Clock::time_point now = Clock::now();
    if (tickOn_ && now >= nextTick_) {
        nextTick_ = now + TickInterval;
        flow_.OnTick();
    }
    if (progressOn_ && now >= nextProgress_) {
        nextProgress_ = now + ProgressInterval;
        flow_.OnProgressTick();
    }
}

void SendDriver::Pump(Clock::time_point until) {
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(std::max<long long>(wait.count(), 0)),
                              QS_ALLINPUT);
    MSG msg;
    // A bounded number at a time, so that the ticks stay on time.
    for (int i = 0; i < 64 && !done_ && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

} // namespace tarvel::bench
