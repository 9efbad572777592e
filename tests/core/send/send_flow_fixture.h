// The send flow's test bench: a scripted socket, the user-interface thread's queue run by the test,
// a view that records what the window would show, and the fixture that wires them to a SendFlow.
#pragma once

#include "core/send/send_flow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/smtp/scripted_connection.h"

namespace tarvel::test {

using Strings = std::vector<std::string>;

// The scripted connection as the flow sees it too: a socket number while connected, and the server's
// chunks waiting to be read.
class FlowSocket : public test::ScriptedConnection, public SendSocket {
public:
    void Connect() override {
        ScriptedConnection::Connect();
        if (!portIsInvalid) handle_.store(++opened_);
    }
    void Disconnect() override {
        ScriptedConnection::Disconnect();
        handle_.store(-1);
    }
    int SocketHandle() const override { return handle_.load(); }
    int Receive(char* buffer, int length) override {
        if (incoming.empty()) return -1;
        std::string& chunk = incoming.front();
        const int n = std::min<int>(length, static_cast<int>(chunk.size()));
        std::memcpy(buffer, chunk.data(), static_cast<std::size_t>(n));
        chunk.erase(0, static_cast<std::size_t>(n));
        if (chunk.empty()) incoming.pop_front();
        return n;
    }

    std::deque<std::string> incoming;

private:
    std::atomic<int> handle_{-1};
    int opened_ = 100;
};

// The user-interface thread's queue: workers post, the test runs what is posted.
class UiQueue {
public:
    void Post(std::function<void()> work) {
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(std::move(work));
        }
        changed_.notify_all();
    }
    // Runs what is queued now.
    void RunPending() {
        for (;;) {
            std::function<void()> work;
            {
                std::lock_guard lock(mutex_);
                if (queue_.empty()) return;
                work = std::move(queue_.front());
                queue_.pop_front();
            }
            work();
        }
    }
    // Runs posted work until `done` holds; false when nothing more came for a while.
    bool RunUntil(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (;;) {
            if (done()) return true;
            std::function<void()> work;
            {
                // In slices: a worker may make `done` hold without posting anything.
                std::unique_lock lock(mutex_);
                if (!changed_.wait_for(lock, std::chrono::milliseconds(10),
                                       [this] { return !queue_.empty(); })) {
                    if (std::chrono::steady_clock::now() >= deadline) return done();
                    continue;
                }
                work = std::move(queue_.front());
                queue_.pop_front();
            }
            work();
        }
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> queue_;
};

// The view as a log of what the window would show.
class RecordingView : public SendView {
public:
    void Compose(MailMessage& message) override { message = composed; }
    void ShowStatus(std::string_view text) override { log.push_back("status " + std::string(text)); }
    void ShowCaption(std::string_view text) override { log.push_back("caption " + std::string(text)); }
    void ShowProgress(int percent) override { progress = percent; }
    void ShowBusy(bool on) override {
        busy = on;
        log.push_back(on ? "busy" : "not busy");
        if (!on && stepNow) stepsWhenFree.push_back(SendStepName(stepNow()));
    }
    void RunTimers(bool tick, bool progressTimer) override {
        tickOn = tick;
        progressOn = progressTimer;
    }
    void RestartTick() override { ++tickRestarts; }
    void Done(bool sent) override {
        ++dones;
        log.push_back(sent ? "done, sent" : "done");
    }
    SessionSecurity SecurityFor(const std::string&) override { return security; }
    OAuthSource OAuthFor() override { return oauth; }
    std::optional<bool> TrustFor(const std::string& server, const CertificateReport& report) override {
        questions.push_back(server + ": " + report.problem);
        return trustAnswer;
    }

    std::string LastStatus() const {
        for (auto it = log.rbegin(); it != log.rend(); ++it)
            if (it->starts_with("status ")) return it->substr(7);
        return {};
    }

    MailMessage composed;
    SessionSecurity security;        // plain unless a test asks for more
    OAuthSource oauth;               // with security.logOn OAuth2
    std::optional<bool> trustAnswer; // TrustFor's answer at once; none: the test answers later
    Strings questions;               // "server: problem" for each certificate asked about
    Strings log;
    bool busy = false;
    bool tickOn = false;
    bool progressOn = false;
    int progress = -1;
    int tickRestarts = 0;
    int dones = 0;
    std::function<tarvel::SendStep()> stepNow;
    Strings stepsWhenFree; // the step each time the button went back to "&Send"
};

class SendFlowTest : public ::testing::Test {
protected:
    SendFlowTest() {
        view.composed.Sender = "me@example.org";
        view.composed.ToHeader = " <ann@example.com>";
        view.composed.Recipients = {"ann@example.com"};
        view.composed.Subject = "Hi";
        view.composed.Body = "Hello\r\n";
        settings.SMTPServer = "mx.example.org";
        settings.SMTPPort = "2525";
        settings.DialEntry = "Office";
        settings.DialPassword = "secret";
        socket.sendAborted = &shared.SendAborted;
        socket.onError = [this](const std::string& text) { flow->OnError(socket.SocketHandle(), text); };
        session.OnStateChange = [this](SessionState from, SessionState to) {
            std::lock_guard lock(sessionMutex);
            sessionTrace.push_back(std::string(SessionStateName(from)) + " -> " + SessionStateName(to));
        };
        Dialler dialler{[this] { dialLog.push_back("load"); },
                        [this](std::string_view entry, std::string_view phone, std::string_view password) {
                            dialLog.push_back("dial " + std::string(entry) + "/" + std::string(phone) + "/" +
                                              std::string(password));
                            return dialError;
                        },
                        [this](bool askFirst) {
                            dialLog.push_back(askFirst ? "hang up, asking" : "hang up");
                            return std::string(" ");
                        }};
        flow = std::make_unique<SendFlow>(view, socket, session, shared, messages, settings, dialler,
                                          [this](std::function<void()> work) { ui.Post(std::move(work)); });
        flow->SetTimeoutTicks(3);
        flow->OnStep = [this](tarvel::SendStep from, tarvel::SendStep to) {
            steps.push_back(std::string(SendStepName(from)) + " -> " + SendStepName(to));
        };
        view.stepNow = [this] { return flow->Step(); };
    }
    ~SendFlowTest() override {
        flow.reset();
        // Every time the button read "&Send" again, a click would have started a send.
        for (const std::string& step : view.stepsWhenFree)
            EXPECT_EQ(step, "Idle");
    }

    // Clicks Send and waits until the connect step is over.
    void Click() {
        flow->OnClick();
        ASSERT_TRUE(ui.RunUntil([this] {
            return flow->Step() != tarvel::SendStep::Dialling && flow->Step() != tarvel::SendStep::Connecting;
        })) << SendStepName(flow->Step());
    }
    // The server sends `chunk`; waits until the session has handled it and the flow has heard so.
    void Server(const std::string& chunk) {
        const unsigned before = flow->TextsHandled();
        socket.incoming.push_back(chunk);
        flow->OnData(socket.SocketHandle());
        ASSERT_TRUE(ui.RunUntil([&] { return flow->TextsHandled() == before + 1; })) << chunk;
    }
    Strings Log() { return socket.Log(); }
    Strings SessionTrace() {
        std::lock_guard lock(sessionMutex);
        return sessionTrace;
    }
    void WaitIdle() {
        ASSERT_TRUE(ui.RunUntil([this] { return flow->Step() == tarvel::SendStep::Idle; }))
            << SendStepName(flow->Step());
    }
    // Up to the server's 354 and the message text.
    void ExchangeToData() {
        Click();
        Server("220 mx ESMTP\r\n");
        Server("250 mx\r\n");
        Server("250 ok\r\n");
        Server("250 ok\r\n");
    }

    FlowSocket socket;
    MessageList messages{1};
    SendSignals shared;
    Settings settings;
    RecordingView view;
    SmtpSession session{socket, messages, shared};
    std::mutex sessionMutex;
    Strings sessionTrace;
    Strings dialLog;
    std::string dialError;
    UiQueue ui;
    Strings steps;
    std::unique_ptr<SendFlow> flow;
};

} // namespace tarvel::test
