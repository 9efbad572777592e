// The send flow without a window: the steps it goes through ("from -> to") and what it shows for a
// delivered, a refused, a cancelled and a timed-out send, dialling, failures reported while a worker
// ran the session or asked the user, and input that cannot be sent.
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
#include <string>
#include <thread>
#include <vector>

#include "core/smtp/scripted_connection.h"

namespace tarvel {
namespace {

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

    std::string LastStatus() const {
        for (auto it = log.rbegin(); it != log.rend(); ++it)
            if (it->starts_with("status ")) return it->substr(7);
        return {};
    }

    MailMessage composed;
    SessionSecurity security; // plain unless a test asks for more
    Strings log;
    bool busy = false;
    bool tickOn = false;
    bool progressOn = false;
    int progress = -1;
    int tickRestarts = 0;
    int dones = 0;
    std::function<SendStep()> stepNow;
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
        flow->OnStep = [this](SendStep from, SendStep to) {
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
            return flow->Step() != SendStep::Dialling && flow->Step() != SendStep::Connecting;
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
        ASSERT_TRUE(ui.RunUntil([this] { return flow->Step() == SendStep::Idle; }))
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

const Strings DirectSend{"Idle -> Connecting", "Connecting -> Exchanging", "Exchanging -> Ending",
                         "Ending -> Idle"};

TEST_F(SendFlowTest, ADeliveredSendEndsAtTheServersAnswerToQuitWithoutWaitingForItsClose) {
    ExchangeToData();
    Server("354 go ahead\r\n");
    Server("250 queued\r\n");
    EXPECT_EQ(flow->Step(), SendStep::Exchanging);
    Server("221 bye\r\n");
    WaitIdle();

    EXPECT_EQ(steps, DirectSend);
    EXPECT_EQ(SessionTrace(),
              (Strings{"Idle -> Greeting", "Greeting -> Helo", "Helo -> MailFrom", "MailFrom -> RcptTo",
                       "RcptTo -> Data", "Data -> DataEnd", "DataEnd -> Quit", "Quit -> Idle"}));
    EXPECT_EQ(Log(),
              (Strings{"HELO testhost\r\n", "MAIL FROM: <me@example.org>\r\n",
                       "RCPT TO: <ann@example.com>\r\n", "DATA\r\n", "<data>", "QUIT\r\n", "<disconnect>"}));
    EXPECT_EQ(view.log, (Strings{"status Creating mail...", "busy", "caption Sending mail...",
                                 "status Mail has been sent!", "not busy", "done, sent"}));
    EXPECT_EQ(socket.ipAddr, "mx.example.org");
    EXPECT_EQ(socket.port, "2525");
    EXPECT_EQ(view.progress, 100);
    EXPECT_FALSE(view.tickOn);
    EXPECT_FALSE(view.progressOn);
    EXPECT_EQ(view.tickRestarts, 7) << "each received text restarts the idle tick";
    EXPECT_FALSE(shared.SendAborted.load());
    EXPECT_EQ(socket.SocketHandle(), -1);
}

TEST_F(SendFlowTest, ARefusalIsTheOutcomeAndKeepsTheMessage) {
    Click();
    Server("220 mx ESMTP\r\n");
    Server("250 mx\r\n");
    Server("250 ok\r\n");
    Server("550 5.1.1 no such user\r\n");
    EXPECT_EQ(flow->Step(), SendStep::Exchanging) << "waits for the answer to QUIT";
    Server("221 bye\r\n");
    WaitIdle();

    EXPECT_EQ(steps, DirectSend);
    EXPECT_EQ(messages.front().Outcome, SendOutcome::Refusal("550 5.1.1 no such user\r\n"));
    EXPECT_EQ(view.LastStatus(), "550 5.1.1 no such user\r\n");
    EXPECT_EQ(view.log.back(), "done");
    const Strings trace = SessionTrace();
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "RcptTo -> Data"), 0);
    EXPECT_EQ(trace.back(), "Quit -> Idle");
}

TEST(FinalStatusText, AcceptedIsSentAndOtherwiseTheWordsAsTheyStandOrWhetherTheUserCancelled) {
    const struct {
        SendOutcome outcome;
        bool cancelled;
        std::string shown;
    } cases[] = {
        {SendOutcome::Accept(), true, "Mail has been sent!"},
        {SendOutcome::Refusal("550-no\r\n550 such user\r\n"), true, "550-no\r\n550 such user\r\n"},
        {SendOutcome::Failure("TimeOut"), false, "TimeOut"},
        {SendOutcome::Failure("OK!"), false, "OK!"},
        {SendOutcome::Failure(""), true, "Mail has been cancelled!"},
        {SendOutcome{}, true, "Mail has been cancelled!"},
        {SendOutcome{}, false, "The connection ended before the mail was sent"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FinalStatusText(c.outcome, c.cancelled), c.shown)
            << c.outcome << ", cancelled " << c.cancelled;
}

TEST_F(SendFlowTest, CancelEndsAtTheNextTickAndTheButtonFreesOnlyWhenIdle) {
    Click();
    Server("220 mx ESMTP\r\n");
    flow->OnClick(); // Cancel
    EXPECT_TRUE(shared.SendAborted.load());
    EXPECT_EQ(flow->Step(), SendStep::Exchanging) << "a cancel is seen by the next tick";
    EXPECT_TRUE(view.busy);
    flow->OnTick();
    WaitIdle();

    EXPECT_EQ(steps, DirectSend);
    EXPECT_EQ(view.LastStatus(), "Mail has been cancelled!");
    EXPECT_EQ(Log(), (Strings{"HELO testhost\r\n", "<disconnect>"})) << "a cancel sends no command";
    EXPECT_FALSE(shared.SendAborted.load()) << "cleared for the next send";
    EXPECT_FALSE(view.busy);
}

TEST_F(SendFlowTest, AServerThatStopsAnsweringTimesOut) {
    Click();
    for (int i = 0; i < 3; ++i)
        flow->OnTick();
    EXPECT_TRUE(shared.SendAborted.load());
    EXPECT_EQ(shared.IdleTicks.load(), 0) << "the count starts again after a time-out";
    flow->OnTick();
    WaitIdle();

    EXPECT_EQ(steps, DirectSend);
    EXPECT_EQ(SessionTrace(), (Strings{"Idle -> Greeting", "Greeting -> Quit", "Quit -> Idle"}));
    EXPECT_EQ(Log(), (Strings{"QUIT\r\n", "<disconnect>"}));
    EXPECT_EQ(messages.front().Outcome, SendOutcome::Failure("TimeOut"));
    EXPECT_EQ(view.LastStatus(), "TimeOut");
}

TEST_F(SendFlowTest, ACloseDuringAStuckTransferKeepsCancelUntilTheWriterHasStopped) {
    view.composed.Attachments.clear();
    view.composed.Body = std::string(200000, 'x');
    socket.stalled = true;
    socket.waitSleepMs = 2;
    ExchangeToData();
    socket.incoming.push_back("354 go ahead\r\n");
    flow->OnData(socket.SocketHandle());
    ASSERT_TRUE(ui.RunUntil([this] { return shared.BytesSent.load() > 0; }));

    flow->OnClose(socket.SocketHandle());
    EXPECT_EQ(flow->Step(), SendStep::Ending);
    EXPECT_TRUE(view.busy) << "the button reads \"&Send\" only when a click sends again";
    EXPECT_EQ(view.progress, 100);
    flow->OnClick(); // still Cancel: stops the writer
    EXPECT_TRUE(shared.SendAborted.load());
    WaitIdle();
    EXPECT_EQ(view.LastStatus(), "Mail has been cancelled!");
    EXPECT_EQ(socket.RawSendsWhileAborted(), 0);
    EXPECT_FALSE(view.busy);
}

TEST_F(SendFlowTest, AReplyReadBeforeTheEndOfTheMessageIsNoAcceptance) {
    const struct {
        const char* early;
        const char* status;
        SendOutcome::Kind kind; // a 250 too early is our failure, with the server's words quoted
    } cases[] = {
        {"250 2.0.0 queued\r\n",
         "The server answered before the whole message was sent: 250 2.0.0 queued\r\n",
         SendOutcome::Kind::Failed},
        {"552 5.3.4 too big\r\n", "552 5.3.4 too big\r\n", SendOutcome::Kind::Refused},
    };
    view.composed.Body = std::string(200000, 'x');
    socket.waitSleepMs = 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.early);
        const std::size_t wireBefore = socket.Wire().size();
        socket.stalled = true;
        ExchangeToData();
        socket.incoming.push_back("354 go ahead\r\n");
        flow->OnData(socket.SocketHandle());
        ASSERT_TRUE(ui.RunUntil([this] { return shared.Transferring.load(); }));
        // Read while the writer waits for the peer: the server cannot have the whole message yet.
        socket.incoming.push_back(c.early);
        flow->OnData(socket.SocketHandle());
        socket.stalled = false;
        ASSERT_TRUE(ui.RunUntil([this] { return !shared.Transferring.load(); }));
        WaitIdle();
        EXPECT_EQ(view.LastStatus(), c.status);
        EXPECT_EQ(messages.front().Outcome, (SendOutcome{c.kind, c.status}));
        EXPECT_EQ(view.log.back(), "done");
        EXPECT_EQ(Log().back(), "<disconnect>");
        const std::string wire = socket.Wire().substr(wireBefore);
        EXPECT_GT(wire.size(), 200000u);
        EXPECT_TRUE(wire.ends_with("\r\n.\r\n")) << "the message went out whole";
    }
}

TEST_F(SendFlowTest, FailuresReportedWhileAWorkerRunsTheSessionAreHandledAfterIt) {
    struct Case {
        const char* name;
        int connectError;
        int failCommandsFrom;
        int replies; // server texts before the failure
        const char* status;
        Strings commands;
    };
    const Case cases[] = {
        {"refused connect", test::RefusedError, 0, 0, "Connection refused", {"QUIT\r\n", "<disconnect>"}},
        {"failed RCPT TO",
         0,
         2,
         3,
         "Connection reset by peer",
         {"HELO testhost\r\n", "MAIL FROM: <me@example.org>\r\n", "RCPT TO: <ann@example.com>\r\n",
          "QUIT\r\n", "<disconnect>"}},
    };
    const char* replies[] = {"220 mx\r\n", "250 mx\r\n", "250 ok\r\n"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        socket.connectError = c.connectError;
        socket.failCommandsFrom = static_cast<int>(socket.Commands().size()) + c.failCommandsFrom;
        const std::size_t logged = Log().size();
        steps.clear();
        Click();
        for (int i = 0; i < c.replies; ++i)
            Server(replies[i]);
        // The abort closes the connection; the end follows at the next tick, or at once when a reply's
        // handling was what failed.
        ASSERT_TRUE(ui.RunUntil([this] { return shared.SendAborted.load() || !flow->Busy(); }));
        if (flow->Busy()) flow->OnTick();
        WaitIdle();
        EXPECT_EQ(steps, DirectSend);
        EXPECT_EQ(view.LastStatus(), c.status);
        const Strings log = Log();
        EXPECT_EQ(Strings(log.begin() + static_cast<std::ptrdiff_t>(logged), log.end()), c.commands);
        socket.connectError = 0;
        socket.failCommandsFrom = -1;
    }
}

TEST_F(SendFlowTest, AQuestionToTheUserStopsTheTimeOutHoldsFailuresAndEndsAtAnAbort) {
    view.security = SessionSecurity{SecurityMode::StartTls, "", ""};
    std::atomic<bool> asking{false}, answered{false}, stopped{false};
    // The handshake's worker asks about the certificate while it holds the session, as the window does.
    socket.duringTls = [&] {
        flow->AskUser([&](const SendFlow::StopAsking& stop) {
            asking = true;
            // The user reads the question until the test answers, or an abort ends it. A tick or a failure
            // that did not wait for the answer would wait for this worker in turn: the bound fails the test.
            const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (!answered.load() && !stop() && std::chrono::steady_clock::now() < limit)
                std::this_thread::yield();
            stopped = stop();
            return answered.load();
        });
    };
    const struct {
        const char* failure; // reported while the question is open; null: none
        bool cancel;         // the user cancels (or the program closes) while the question is open
        const char* status;
    } cases[] = {
        {nullptr, false, "Mail has been cancelled!"},
        {"Connection reset by peer", false, "Connection reset by peer"},
        {nullptr, true, "Mail has been cancelled!"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        asking = answered = stopped = false;
        Click();
        Server("220 mx ESMTP\r\n");
        Server("250-mx\r\n250 STARTTLS\r\n");
        const unsigned handled = flow->TextsHandled();
        socket.incoming.push_back("220 go ahead\r\n");
        flow->OnData(socket.SocketHandle());
        ASSERT_TRUE(ui.RunUntil([&] { return asking.load(); }));
        // The window thread's own ticks while the question is open, up to past the time-out.
        const int idle = shared.IdleTicks.load();
        for (int i = 0; i < flow->TimeoutTicks() + 2; ++i)
            flow->OnTick();
        if (c.failure) flow->OnError(socket.SocketHandle(), c.failure);
        EXPECT_EQ(shared.IdleTicks.load(), idle) << "the time the user takes counted as the server's";
        EXPECT_FALSE(shared.SendAborted.load()) << "aborted while the question was open";
        if (c.cancel)
            flow->OnCancel();
        else
            answered = true;
        ASSERT_TRUE(ui.RunUntil([&] { return flow->TextsHandled() == handled + 1; }));
        EXPECT_EQ(stopped.load(), c.cancel) << "the abort did not end the question";
        const Strings log = Log();
        const auto tls = std::find(log.rbegin(), log.rend(), "<tls>");
        ASSERT_NE(tls, log.rbegin());
        if (!c.failure && !c.cancel) {
            EXPECT_EQ(*(tls - 1), "EHLO testhost\r\n") << "the session did not go on after the answer";
            EXPECT_FALSE(shared.SendAborted.load());
            flow->OnClick(); // Cancel
        }
        // The failure is handled once the answer is in.
        ASSERT_TRUE(ui.RunUntil([this] { return shared.SendAborted.load() || !flow->Busy(); }));
        if (flow->Busy()) flow->OnTick();
        WaitIdle();
        EXPECT_EQ(view.LastStatus(), c.status);
    }
}

TEST_F(SendFlowTest, DiallingComesFirstAndTheLineItBroughtUpIsDroppedAtTheEnd) {
    settings.UseDialup = true;
    Click();
    EXPECT_EQ(dialLog, (Strings{"load", "dial Office//secret"}));
    Server("421 busy\r\n");
    Server("221 bye\r\n");
    WaitIdle();
    EXPECT_EQ(steps, (Strings{"Idle -> Dialling", "Dialling -> Connecting", "Connecting -> Exchanging",
                              "Exchanging -> Ending", "Ending -> HangingUp", "HangingUp -> Idle"}));
    EXPECT_EQ(dialLog.back(), "hang up");
    EXPECT_EQ(view.log, (Strings{"status Creating mail...", "status Establishing ISP connection...", "busy",
                                 "caption Sending mail...", "status Hanging up...", "status 421 busy\r\n",
                                 "not busy", "done"}));
}

TEST_F(SendFlowTest, AFailedDialShowsItsTextAndNeverConnects) {
    settings.UseDialup = true;
    dialError = "Error 676: The line is busy.";
    messages.front().Outcome = SendOutcome::Accept(); // left by the send before
    flow->OnClick();
    WaitIdle();
    EXPECT_EQ(steps, (Strings{"Idle -> Dialling", "Dialling -> Idle"}));
    EXPECT_EQ(view.LastStatus(), "Error 676: The line is busy.");
    EXPECT_EQ(socket.connects, 0);
    EXPECT_EQ(view.dones, 1);
    EXPECT_EQ(view.log.back(), "done") << "not sent, whatever the send before left";
    EXPECT_EQ(std::count(view.log.begin(), view.log.end(), "busy"), 0) << "Cancel was never offered";
    EXPECT_EQ(dialLog, (Strings{"load", "dial Office//secret"})) << "no hang-up of a line never brought up";
}

TEST_F(SendFlowTest, InputThatCannotBeSentStartsNothingAndSaysWhy) {
    struct Case {
        Strings recipients;
        Strings attachments;
        std::string status;
    };
    const Case cases[] = {
        {{}, {}, std::string(NoRecipientText)},
        {{"ann@example.com"},
         {"/nonexistent/tarvel/report.pdf"},
         "Cannot read the attachment /nonexistent/tarvel/report.pdf"},
    };
    for (const Case& c : cases) {
        view.composed.Recipients = c.recipients;
        view.composed.Attachments = c.attachments;
        flow->OnClick();
        EXPECT_EQ(flow->Step(), SendStep::Idle);
        EXPECT_EQ(view.LastStatus(), c.status);
        EXPECT_EQ(socket.connects, 0);
        EXPECT_EQ(messages.front().Body, "Hello\r\n") << "the message is kept for another try";
    }
    EXPECT_TRUE(steps.empty());
}

TEST_F(SendFlowTest, EventsOfAnotherSocketOrOfNoSendChangeNothing) {
    flow->OnData(7);
    flow->OnClose(7);
    flow->OnError(7, "Connection reset by peer");
    flow->OnTick();
    ui.RunPending();
    EXPECT_TRUE(steps.empty());
    EXPECT_FALSE(shared.SendAborted.load());

    Click();
    const int own = socket.SocketHandle();
    flow->OnClose(own + 1);
    flow->OnError(own + 1, "Connection reset by peer");
    ui.RunPending();
    EXPECT_EQ(flow->Step(), SendStep::Exchanging);
    EXPECT_FALSE(shared.SendAborted.load());
    flow->OnClose(own);
    WaitIdle();
    EXPECT_EQ(view.LastStatus(), "The connection ended before the mail was sent");
}

} // namespace
} // namespace tarvel
