// The send flow without a window: the steps it goes through ("from -> to") and what it shows for a
// delivered, a refused, a cancelled and a timed-out send, dialling, failures reported while a worker
// ran the session or asked the user, and input that cannot be sent.
#include "core/send/send_flow_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace tarvel {
namespace {

using test::SendFlowTest;
using test::Strings;

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

TEST_F(SendFlowTest, ACertificateQuestionHoldsNoLockWritesNothingUntilTrustedAndEndsAtAnAbort) {
    view.security = SessionSecurity{SecurityMode::StartTls, "", ""};
    CertificateReport report;
    report.problem = "The certificate is not trusted.";
    socket.tlsQuestion = report;
    enum class Then { Trust, Refuse, Fail, Cancel };
    const struct {
        Then then;
        Strings afterTls; // what the stream saw after the handshake
        const char* status;
    } cases[] = {
        {Then::Trust, {"<trusted>", "EHLO testhost\r\n", "<disconnect>"}, "Mail has been cancelled!"},
        {Then::Refuse,
         {"<disconnect>"},
         "The server's certificate was not accepted: The certificate is not trusted."},
        {Then::Fail, {"<disconnect>"}, "Connection reset by peer"},
        {Then::Cancel, {"<disconnect>"}, "Mail has been cancelled!"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        view.questions.clear();
        Click();
        Server("220 mx ESMTP\r\n");
        Server("250-mx\r\n250 STARTTLS\r\n");
        Server("220 go ahead\r\n");
        ASSERT_EQ(view.questions, Strings{"mx.example.org: The certificate is not trusted."});
        EXPECT_TRUE(flow->AwaitsCertificateAnswer(flow->SendNumber()));
        EXPECT_FALSE(flow->AwaitsCertificateAnswer(flow->SendNumber() - 1)) << "an earlier send's question";
        // While it is open this thread goes on: its ticks, up to past the time-out, count nothing, and
        // a data event reaches the session on its worker, which finds the session's lock free.
        const int idle = shared.IdleTicks.load();
        for (int i = 0; i < flow->TimeoutTicks() + 2; ++i)
            flow->OnTick();
        Server("");
        EXPECT_EQ(shared.IdleTicks.load(), idle);
        EXPECT_FALSE(shared.SendAborted.load());
        EXPECT_EQ(Log().back(), "<tls>") << "written before the certificate was trusted";
        const unsigned handled = flow->TextsHandled();
        if (c.then == Then::Trust || c.then == Then::Refuse) flow->AnswerCertificate(c.then == Then::Trust);
        if (c.then == Then::Fail) flow->OnError(socket.SocketHandle(), "Connection reset by peer");
        if (c.then == Then::Cancel) flow->OnCancel();
        if (c.then == Then::Trust) {
            ASSERT_TRUE(ui.RunUntil([&] { return flow->TextsHandled() == handled + 1; }));
            EXPECT_TRUE(socket.Encrypted());
            flow->OnCancel();
        }
        ASSERT_TRUE(ui.RunUntil([this] { return shared.SendAborted.load() || !flow->Busy(); }));
        if (flow->Busy()) flow->OnTick();
        WaitIdle();
        flow->AnswerCertificate(true); // too late: dropped
        EXPECT_EQ(view.LastStatus(), c.status);
        const Strings log = Log();
        const auto tls = std::find(log.rbegin(), log.rend(), "<tls>");
        EXPECT_EQ(Strings(tls.base(), log.end()), c.afterTls);
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
