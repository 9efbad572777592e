// SMTP session transcripts: replies in whatever chunks, commands and outcomes out, the transfer's
// bytes, refusals, local failures, cancel and a connection that fails during DATA.
#include "core/smtp/session_transcript.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace tarvel {
namespace {

using test::Accept;
using test::C;
using test::Closed;
using test::ExpectedBytesSent;
using test::ExpectedWire;
using test::Fail;
using test::MessageText;
using test::S;
using test::TempFolder;
using test::WouldBlock;
using enum SessionState;

using SmtpSessionTest = test::SessionFixture;

// --- reply assembly as the state machine sees it ---

TEST_F(SmtpSessionTest, GreetingSplitInTwoChunksGivesOneHelo) {
    Start();
    Play({S("220 mx.example.org"), S(" ESMTP ready\r\n"), C("HELO testhost")});
    EXPECT_EQ(session.State(), Helo);
}

TEST_F(SmtpSessionTest, MultiLineGreetingInOneChunkGivesOneHelo) {
    Start();
    Play({S("220-mx.example.org ESMTP\r\n220 no UCE\r\n"), C("HELO testhost")});
    EXPECT_EQ(session.State(), Helo);
}

TEST_F(SmtpSessionTest, MultiLineGreetingInSeparateChunksGivesOneHelo) {
    Start();
    Play({S("220-mx.example.org ESMTP\r\n"), S("220-second\r\n"), S("220 last\r\n"), C("HELO testhost")});
}

TEST_F(SmtpSessionTest, BareCodeIsAWholeReply) {
    Start();
    Play({S("220\r\n"), C("HELO testhost"), S("250\r\n"), C("MAIL FROM: <me@example.org>")});
    EXPECT_EQ(session.State(), MailFrom);
}

TEST_F(SmtpSessionTest, TwoRepliesInOneChunkAreBothHandledInOrder) {
    Start();
    Play({S("220 hi\r\n250 there\r\n"), C("HELO testhost"), C("MAIL FROM: <me@example.org>")});
    EXPECT_EQ(session.State(), MailFrom);
}

TEST_F(SmtpSessionTest, EndlessLineAbortsAtTheBoundWithAClearStatus) {
    Start();
    Play({S("220 hi\r\n"), C("HELO testhost")});
    const std::string chunk(4096, 'x');
    for (int i = 0; i < 16; ++i)
        Play({S(chunk)});
    EXPECT_EQ(session.PendingReplyBytes(), 16u * 4096u);
    EXPECT_EQ(Message().Outcome, SendOutcome{});
    Play({S("x"), C("QUIT"), Closed});
    EXPECT_EQ(Message().Outcome, SendOutcome::Failure(ReplyTooLongText));
    EXPECT_EQ(session.State(), Idle);
    EXPECT_TRUE(state.SendAborted);
    EXPECT_EQ(session.PendingReplyBytes(), 0u) << "the runaway text is dropped";
    Play({S("250 late\r\n")});
}

// --- the command exchange ---

TEST_F(SmtpSessionTest, StartSetsAddressPortAndClearsTheLastOutcome) {
    Message().Outcome = SendOutcome::Accept();
    state.BytesSent = 123;
    state.BytesTotal = 456;
    ASSERT_TRUE(session.Start("mx.example.org", ""));
    EXPECT_EQ(connection.ipAddr, "mx.example.org");
    EXPECT_EQ(connection.port, "25") << "an empty port text means the SMTP port";
    EXPECT_EQ(connection.connects, 1);
    EXPECT_EQ(Message().Outcome, SendOutcome{}) << "an earlier send's outcome must not survive";
    EXPECT_EQ(state.BytesSent, 0);
    EXPECT_EQ(state.BytesTotal, 0);
    EXPECT_EQ(session.State(), Greeting);
    ASSERT_TRUE(session.Start("10.0.0.1", "smtp"));
    EXPECT_EQ(connection.port, "smtp");
}

TEST_F(SmtpSessionTest, TwoRecipientsWith251AreAllNamedBeforeData) {
    Message().Recipients = {"ann@example.com", " bob@example.net"};
    Start();
    Play({S("220 hi\r\n"), C("HELO testhost"), S("250 hi\r\n"), C("MAIL FROM: <me@example.org>"),
          S("250 ok\r\n"), C("RCPT TO: <ann@example.com>"), S("251 will forward\r\n"),
          // Sent as it stands: the blank after the separator stays.
          C("RCPT TO: < bob@example.net>"), S("250 ok\r\n"), C("DATA"), S("354 go ahead\r\n"), MessageText,
          S("250 queued\r\n"), C("QUIT"), S("221 bye\r\n"), Closed});
    EXPECT_EQ(Message().Outcome, SendOutcome::Accept());
    EXPECT_EQ(session.State(), Idle);
    EXPECT_EQ(connection.disconnects, 1) << "after 221 the session is over, whether the server closes or not";
    EXPECT_EQ(trace, (std::vector<std::string>{"Idle -> Greeting", "Greeting -> Helo", "Helo -> MailFrom",
                                               "MailFrom -> RcptTo", "RcptTo -> Data", "Data -> DataEnd",
                                               "DataEnd -> Quit", "Quit -> Idle"}));
    EXPECT_EQ(connection.wire, ExpectedWire(Message()));
    EXPECT_EQ(state.BytesSent, ExpectedBytesSent(Message()));
    EXPECT_EQ(state.BytesTotal, EstimateMessageSize(Message()));
}

TEST_F(SmtpSessionTest, DeliveredBytesFollowTheLeadingDotRuleAndEndWithTheEndOfDataLine) {
    PlayToData();
    Play({S("354 go\r\n"), MessageText});
    const std::string wire = connection.wire;
    EXPECT_TRUE(wire.ends_with("\r\n\r\nHi Ann,\r\n..\r\nbye\r\n\r\n\r\n.\r\n")) << wire;
    EXPECT_EQ(session.State(), DataEnd);
}

TEST_F(SmtpSessionTest, RefusedSecondRecipientRefusesTheMessage) {
    Message().Recipients = {"ann@example.com", "nobody@example.com"};
    Start();
    Play({S("220 hi\r\n"), C("HELO testhost"), S("250 hi\r\n"), C("MAIL FROM: <me@example.org>"),
          S("250 ok\r\n"), C("RCPT TO: <ann@example.com>"), S("250 ok\r\n"),
          C("RCPT TO: <nobody@example.com>"), S("550 5.1.1 <nobody@example.com>: user unknown\r\n"),
          C("QUIT")});
    EXPECT_EQ(Message().Outcome, SendOutcome::Refusal("550 5.1.1 <nobody@example.com>: user unknown\r\n"));
    EXPECT_EQ(session.State(), Quit);
    Play({S("221 bye\r\n"), Closed});
    EXPECT_EQ(session.State(), Idle);
    EXPECT_EQ(connection.wire, "");
    EXPECT_EQ(trace.back(), "Quit -> Idle");
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "RcptTo -> Data"), 0) << "no DATA after a refusal";
}

TEST_F(SmtpSessionTest, RefusalStatusIsTheWholeMultiLineReply) {
    PlayToData();
    Play({S("554-5.7.1 rejected\r\n"), S("554 5.7.1 see policy\r\n"), C("QUIT")});
    EXPECT_EQ(Message().Outcome, SendOutcome::Refusal("554-5.7.1 rejected\r\n554 5.7.1 see policy\r\n"));
}

TEST_F(SmtpSessionTest, UnlistedRefusalOfMailFromRefusesAtOnce) {
    Start();
    Play({S("220 hi\r\n"), C("HELO testhost"), S("250 hi\r\n"), C("MAIL FROM: <me@example.org>"),
          S("550 5.7.1 sender rejected\r\n"), C("QUIT")});
    EXPECT_EQ(Message().Outcome, SendOutcome::Refusal("550 5.7.1 sender rejected\r\n"));
}

TEST_F(SmtpSessionTest, UnlistedRefusalOfHeloRefusesAtOnce) {
    Start();
    Play({S("220 hi\r\n"), C("HELO testhost"), S("502 5.5.1 HELO not implemented\r\n"), C("QUIT")});
    EXPECT_EQ(Message().Outcome, SendOutcome::Refusal("502 5.5.1 HELO not implemented\r\n"));
}

TEST_F(SmtpSessionTest, OtherCodesAreIgnoredWhereTheStateDoesNotListThem) {
    Start();
    Play({S("220 hi\r\n"), C("HELO testhost"), S("354 what?\r\n"), S("garbage\r\n")});
    EXPECT_EQ(session.State(), Helo);
    EXPECT_EQ(Message().Outcome, SendOutcome{});
}

TEST_F(SmtpSessionTest, RefusedGreetingStoresItsReplyAndQuits) {
    Start();
    Play({S("421 4.3.2 too busy\r\n"), C("QUIT")});
    EXPECT_EQ(Message().Outcome, SendOutcome::Refusal("421 4.3.2 too busy\r\n"));
    EXPECT_EQ(session.State(), Quit);
    Play({S("221 bye\r\n"), Closed});
    EXPECT_EQ(session.State(), Idle);

    Message().Outcome = SendOutcome::Accept();
    ASSERT_TRUE(session.Start("mx", "25"));
    Play({S("554 no service\r\n"), C("QUIT"), S("500 eh?\r\n"), C("QUIT"), Closed});
    EXPECT_EQ(Message().Outcome, SendOutcome::Refusal("554 no service\r\n"));
}

TEST_F(SmtpSessionTest, AnythingButClosingAfterQuitQuitsAgainAndDisconnects) {
    PlayToData();
    Play({S("354 go\r\n"), MessageText, S("250 queued\r\n"), C("QUIT"), S("250 what?\r\n"), C("QUIT"),
          Closed});
    EXPECT_EQ(session.State(), Idle);
    EXPECT_EQ(Message().Outcome, SendOutcome::Accept());
    EXPECT_FALSE(state.SendAborted);
}

TEST_F(SmtpSessionTest, EmptyRecipientListIsRefusedWithoutRcptTo) {
    Message().Recipients.clear();
    Start();
    Play({S("220 hi\r\n"), C("HELO testhost"), S("250 hi\r\n"), C("QUIT")});
    EXPECT_EQ(Message().Outcome, SendOutcome::Failure(NoRecipientText));
}

TEST_F(SmtpSessionTest, EachRecordGetsItsOwnTransactionAfterRset) {
    messages.resize(2);
    Message(1) = Message(0);
    Message(1).Recipients = {"zed@example.com"};
    Message(1).Outcome = SendOutcome::Failure("stale");
    Start();
    Play({S("220 hi\r\n"),     C("HELO testhost"),
          S("250 hi\r\n"),     C("MAIL FROM: <me@example.org>"),
          S("250 ok\r\n"),     C("RCPT TO: <ann@example.com>"),
          S("250 ok\r\n"),     C("DATA"),
          S("354 go\r\n"),     MessageText,
          S("250 queued\r\n"), C("RSET"),
          S("250 reset\r\n"),  C("MAIL FROM: <me@example.org>"),
          S("250 ok\r\n"),     C("RCPT TO: <zed@example.com>"),
          S("550 no zed\r\n"), C("QUIT"),
          S("221 bye\r\n"),    Closed});
    EXPECT_EQ(Message(0).Outcome, SendOutcome::Accept());
    EXPECT_EQ(Message(1).Outcome, SendOutcome::Refusal("550 no zed\r\n"));
}

// --- local failures ---

TEST_F(SmtpSessionTest, ErrorDuringRecipientsQuitsOnceAndKeepsItsText) {
    Start();
    Play({S("220 hi\r\n"), C("HELO testhost"), S("250 hi\r\n"), C("MAIL FROM: <me@example.org>"),
          S("250 ok\r\n"), C("RCPT TO: <ann@example.com>")});
    session.Abort("Connection reset by peer");
    Play({C("QUIT"), Closed});
    EXPECT_EQ(session.State(), Idle);
    EXPECT_TRUE(state.SendAborted);
    EXPECT_EQ(Message().Outcome, SendOutcome::Failure("Connection reset by peer"));
    session.Abort("Software caused connection abort");
    Play({S("250 late\r\n")});
    EXPECT_EQ(Message().Outcome, SendOutcome::Failure("Connection reset by peer"));
}

TEST_F(SmtpSessionTest, ErrorWhileIdleOnlySetsTheFlag) {
    session.Abort("Connection refused");
    EXPECT_TRUE(state.SendAborted);
    EXPECT_EQ(session.State(), Idle);
    Play({});

    // Nor does it overwrite the outcome of a finished session.
    state.SendAborted = false;
    PlayToData();
    Play({S("354 go\r\n"), MessageText, S("250 queued\r\n"), C("QUIT"), S("221 bye\r\n"), Closed});
    session.Abort("Connection reset by peer");
    Play({});
    EXPECT_EQ(Message().Outcome, SendOutcome::Accept());
}

TEST_F(SmtpSessionTest, RefusedConnectBecomesTheStatus) {
    connection.connectError = test::RefusedError;
    connection.failCommandsFrom = 0;
    Message().Outcome = SendOutcome::Accept();
    // The failure is reported while Start runs and handed to the session after it returns.
    EXPECT_TRUE(session.Start("127.0.0.1", "2525"));
    // The QUIT of the abort fails as well; that second report changes nothing.
    Play({C("QUIT"), Closed});
    EXPECT_EQ(Message().Outcome, SendOutcome::Failure("Connection refused"));
    EXPECT_EQ(session.State(), Idle);
}

TEST_F(SmtpSessionTest, TimeOutWaitingForAReplyBecomesTheStatus) {
    Start();
    Play({S("220 hi\r\n"), C("HELO testhost")});
    session.Abort("TimeOut");
    Play({C("QUIT"), Closed});
    EXPECT_EQ(Message().Outcome, SendOutcome::Failure("TimeOut"));
    EXPECT_EQ(std::vector<std::string>(trace.end() - 2, trace.end()),
              (std::vector<std::string>{"Helo -> Quit", "Quit -> Idle"}));
}

TEST_F(SmtpSessionTest, InvalidPortEndsTheSendWithTheConversionText) {
    connection.portIsInvalid = true;
    Message().Outcome = SendOutcome::Accept();
    EXPECT_FALSE(session.Start("mx.example.org", "abc"));
    EXPECT_EQ(Message().Outcome, SendOutcome::Failure("'abc' is not a valid integer value"));
    EXPECT_TRUE(state.SendAborted);
    EXPECT_EQ(session.State(), Idle);
    EXPECT_EQ(connection.connects, 0);
    Play({S("220 hi\r\n")});
}

TEST_F(SmtpSessionTest, FailedCommandSendAbortsFromInsideTheReply) {
    Start();
    Play({S("220 hi\r\n"), C("HELO testhost"), S("250 hi\r\n"), C("MAIL FROM: <me@example.org>")});
    connection.failCommandsFrom = 2; // RCPT TO and everything after it
    Play({S("250 ok\r\n"), C("RCPT TO: <ann@example.com>"), C("QUIT"), Closed});
    EXPECT_EQ(session.State(), Idle);
    // The failed send was handled after the reply: the state had reached RcptTo first.
    EXPECT_EQ(std::vector<std::string>(trace.end() - 3, trace.end()),
              (std::vector<std::string>{"MailFrom -> RcptTo", "RcptTo -> Quit", "Quit -> Idle"}));
    EXPECT_EQ(Message().Outcome, SendOutcome::Failure("Connection reset by peer"));
    EXPECT_TRUE(state.SendAborted);
}

TEST_F(SmtpSessionTest, CancelBeforeAReplyIsHandledSendsNothing) {
    Start();
    Play({S("220 hi\r\n"), C("HELO testhost")});
    state.SendAborted = true;
    Play({S("250 hi\r\n")});
    EXPECT_EQ(session.State(), Idle);
    EXPECT_EQ(Message().Outcome, SendOutcome{});
}

// --- the transfer ---

class SmtpSessionTransfer : public test::SessionFixture {
protected:
    SmtpSessionTransfer() {
        Message().Attachments = {"big.bin"};
        std::string bytes(300 * 1024, '\0');
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>(i * 7 + i / 251);
        EXPECT_TRUE(TempFolder::PutFile("big.bin", bytes));
    }
    TempFolder folder;
};

TEST_F(SmtpSessionTransfer, CancelDuringAnAttachmentStopsEveryByte) {
    PlayToData();
    connection.afterRawSend = [this] {
        if (connection.wire.size() > 100000) state.SendAborted = true;
    };
    Play({S("354 go\r\n"), MessageText});
    EXPECT_EQ(connection.rawSendsWhileAborted, 0) << "nothing reaches the server once aborted";
    EXPECT_FALSE(connection.wire.ends_with("\r\n.\r\n"));
    EXPECT_LT(connection.wire.size(), 200000u);
    EXPECT_EQ(session.State(), Idle);
    EXPECT_EQ(Message().Outcome, SendOutcome{});
    Play({S("250 queued\r\n")});
}

TEST_F(SmtpSessionTransfer, WouldBlockStormIsWaitedOutAndTheMessageArrivesWhole) {
    PlayToData();
    for (int round = 0; round < 30; ++round) {
        connection.sends.push_back(Accept(1000 + round));
        for (int i = 0; i < 20; ++i)
            connection.sends.push_back(WouldBlock());
    }
    state.IdleTicks = 12;
    Play({S("354 go\r\n"), MessageText});
    EXPECT_EQ(connection.wire, ExpectedWire(Message()));
    EXPECT_EQ(connection.Waits(), 600);
    EXPECT_EQ(state.IdleTicks, 0);
    EXPECT_EQ(session.State(), DataEnd);
    EXPECT_LE(connection.largestSend, 64u * 1024u);
    Play({S("250 queued\r\n"), C("QUIT")});
    EXPECT_EQ(Message().Outcome, SendOutcome::Accept());
}

TEST_F(SmtpSessionTransfer, FullBufferAtTheEndStillWritesTheEndOfDataLine) {
    Message().Attachments.clear();
    PlayToData();
    const std::size_t size = ExpectedWire(Message()).size();
    connection.sends = {Accept(static_cast<long>(size) - 4), WouldBlock(), WouldBlock(), Accept(1),
                        WouldBlock()};
    Play({S("354 go\r\n"), MessageText});
    EXPECT_EQ(connection.wire, ExpectedWire(Message()));
    EXPECT_EQ(session.State(), DataEnd);
    EXPECT_FALSE(state.SendAborted);
}

TEST_F(SmtpSessionTransfer, ResetDuringDataEndsTheTransferWithTheErrorText) {
    PlayToData();
    connection.sends = {Accept(70000), WouldBlock(), Fail(test::ResetError)};
    Play({S("354 go\r\n"), MessageText});
    EXPECT_EQ(Message().Outcome, SendOutcome::Failure("Connection reset by peer"));
    EXPECT_EQ(session.State(), Idle);
    EXPECT_TRUE(state.SendAborted);
    EXPECT_EQ(connection.rawSendsWhileAborted, 0);
    EXPECT_EQ(connection.rawSends, 3);
    EXPECT_FALSE(connection.wire.ends_with("\r\n.\r\n"));
    // The window's abort for the same failure changes nothing.
    session.Abort("Connection reset by peer");
    Play({});
}

TEST_F(SmtpSessionTransfer, UnreadableAttachmentAbortsWithoutEndOfData) {
    Message().Attachments = {"big.bin", "missing.bin"};
    PlayToData();
    Play({S("354 go\r\n"), MessageText});
    EXPECT_EQ(Message().Outcome.kind, SendOutcome::Kind::Failed);
    EXPECT_NE(Message().Outcome.text.find("missing.bin"), std::string::npos) << Message().Outcome;
    EXPECT_EQ(session.State(), Idle);
    EXPECT_TRUE(state.SendAborted);
    EXPECT_FALSE(connection.wire.ends_with("\r\n.\r\n"));
    EXPECT_EQ(connection.rawSendsWhileAborted, 0);
    Play({S("250 queued\r\n")});
}

TEST_F(SmtpSessionTransfer, LargeAttachmentGoesOutInFewSends) {
    PlayToData();
    Play({S("354 go\r\n"), MessageText});
    const std::string expected = ExpectedWire(Message());
    EXPECT_EQ(connection.wire, expected);
    // About 420 KB of text: a few 64 KiB sends, not one per 78-byte line.
    EXPECT_LE(connection.rawSends, static_cast<int>(expected.size() / (60 * 1024) + 2));
    EXPECT_EQ(state.BytesSent, ExpectedBytesSent(Message()));
}

} // namespace
} // namespace tarvel
