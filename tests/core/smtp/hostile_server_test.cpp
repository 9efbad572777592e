// A session that cannot be talked into a false acceptance or into sending a line the user did not mean:
// early and contradictory replies from the server, and fields holding line breaks.
#include "core/mail/field_check.h"
#include "core/smtp/session_transcript.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace tarvel {
namespace {

using test::C;
using test::Closed;
using test::MessageText;
using test::S;
using enum SessionState;

using HostileServerTest = test::SessionFixture;

TEST_F(HostileServerTest, AcceptanceSentWithThe354DoesNotAnswerTheMessage) {
    PlayToData();
    // The 250 came before the server had any text; its real answer follows the end-of-data line.
    Play({S("354 go ahead\r\n250 queued\r\n"), MessageText, S("554 5.7.1 refused after all\r\n"), C("QUIT")});
    EXPECT_EQ(Message().Outcome, SendOutcome::Refusal("554 5.7.1 refused after all\r\n"));
}

TEST_F(HostileServerTest, AnEarlyAcceptanceAloneLeavesTheSessionWaiting) {
    PlayToData();
    Play({S("354 go ahead\r\n250-queued\r\n250 really\r\n"), MessageText});
    EXPECT_EQ(session.State(), DataEnd);
    EXPECT_EQ(Message().Outcome, SendOutcome{});
    EXPECT_EQ(session.PendingReplyBytes(), 0u);
    Play({S("250 ok now\r\n"), C("QUIT")});
    EXPECT_EQ(Message().Outcome, SendOutcome::Accept());
}

TEST_F(HostileServerTest, ALineBegunBeforeTheDataWentOutIsNoAnswerWhenItEnds) {
    PlayToData();
    Play({S("354 go ahead\r\n\xa7\xa7"), MessageText, S("250 ok\r\n")});
    EXPECT_EQ(session.State(), DataEnd);
    EXPECT_EQ(Message().Outcome, SendOutcome{});
    Play({S("250-one reply\r\n"), S("250 begun after the data\r\n"), C("QUIT")});
    EXPECT_EQ(Message().Outcome, SendOutcome::Accept());
}

TEST_F(HostileServerTest, OnlyAWellFormedAcceptanceAfterTheDataIsSuccess) {
    const struct {
        std::string reply;
        bool accepted;
    } cases[] = {
        {"250 queued\r\n", true},
        {"250\r\n", true},
        {"250-queued\r\n250 as 1234\r\n", true},
        {"250-queued?\r\n554 5.6.0 rejected\r\n", false},
        {"554-5.6.0 rejected\r\n250 ok\r\n", false},
        {"250ie queued\r\n", false},
        {" 250 queued\r\n", false},
        {"2500 queued\r\n", false},
        {"25 0\r\n", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        PlayToData();
        Play({S("354 go\r\n"), MessageText, S(c.reply), C("QUIT")});
        EXPECT_EQ(Message().Outcome, c.accepted ? SendOutcome::Accept() : SendOutcome::Refusal(c.reply));
        Play({S("221 bye\r\n"), Closed});
    }
}

TEST_F(HostileServerTest, FieldsWithLineBreaksAreRefusedBeforeAnyConnect) {
    const struct {
        std::function<void(MailMessage&)> spoil;
        std::string status;
    } cases[] = {
        {[](MailMessage& m) { m.Recipients = {"ann@x.example\nRCPT TO:<spy@evil.example>"}; },
         "A recipient address holds a line break"},
        {[](MailMessage& m) {
             m.Recipients = {"ann@x.example", "bob@x.example\r"};
         },
         "A recipient address holds a line break"},
        {[](MailMessage& m) { m.Sender = "me@x.example\r\nRCPT TO:<spy@evil.example>"; },
         "The sender address holds a line break"},
        {[](MailMessage& m) { m.ToHeader = "Ann <ann@x.example>\nBcc: spy@evil.example"; },
         "The To line holds a line break"},
        {[](MailMessage& m) { m.Subject = "Hi\rthere"; }, "The subject holds a line break"},
        {[](MailMessage& m) { m.XAttachments = "a\n"; }, "The X-Attachments text holds a line break"},
        {[](MailMessage& m) { m.Attachments = {"C:\\a\nb.txt"}; }, "An attachment path holds a line break"},
        {[](MailMessage& m) { m.Subject = std::string(990, 's'); },
         "The subject is longer than one header line can hold (989 characters at most)"},
        {[](MailMessage& m) { m.ToHeader = std::string(995, 't'); },
         "The To line is longer than one header line can hold (994 characters at most)"},
    };
    for (const auto& c : cases) {
        MailMessage spoilt = Message();
        c.spoil(spoilt);
        EXPECT_EQ(UnsendableFieldText(spoilt), c.status);

        MessageList list{spoilt};
        SendSignals fresh;
        test::ScriptedConnection quiet;
        SmtpSession refusing(quiet, list, fresh);
        EXPECT_FALSE(refusing.Start("mx.example.org", "25")) << c.status;
        EXPECT_EQ(list[0].Outcome, SendOutcome::Failure(c.status));
        EXPECT_EQ(quiet.connects, 0);
        EXPECT_TRUE(quiet.Log().empty());
        EXPECT_TRUE(fresh.SendAborted);
        EXPECT_EQ(refusing.State(), Idle);
        // The record itself is kept as the user wrote it.
        EXPECT_EQ(list[0].Recipients, spoilt.Recipients);
        EXPECT_EQ(list[0].Sender, spoilt.Sender);
        EXPECT_EQ(list[0].Subject, spoilt.Subject);
    }
    // The longest lines that fit are sent.
    Message().Subject = std::string(989, 's');
    Message().ToHeader = std::string(994, 't');
    EXPECT_EQ(UnsendableFieldText(Message()), "");
}

TEST_F(HostileServerTest, ACommandWithALineBreakIsNeverSent) {
    connection.hostName = "host\r\nMAIL FROM:<spy@evil.example>";
    Start();
    Play({S("220 hi\r\n")});
    EXPECT_EQ(Message().Outcome, SendOutcome::Failure(LineBreakInCommandText));
    EXPECT_TRUE(state.SendAborted);
    EXPECT_EQ(session.State(), Idle);
    Play({S("250 hi\r\n")});
    EXPECT_TRUE(connection.Log().empty());
}

} // namespace
} // namespace tarvel

namespace tarvel {
namespace {

TEST(ServerWords, TheStatusLineShowsOneCleanLineOfSaneLengthAndTheHintTheWholeReply) {
    const std::string longWord(400, 'x');
    const struct {
        std::string text, line, hint;
    } cases[] = {
        {"550 No such user\r\n", "550 No such user", "550 No such user"},
        {"450-first\r\n450 second\r\n", "450-first 450 second", "450-first\r\n450 second"},
        {"554 \x1b[31mred\x07\tbell\x7f\r\n", "554 [31mredbell", "554 [31mredbell"},
        {"421 " + longWord, "421 " + std::string(StatusLineLimit - 7, 'x') + "...", "421 " + longWord},
        // Never cut inside a UTF-8 character: "ü" is two bytes.
        {std::string(StatusLineLimit - 4, 'a') + "\xC3\xBC" + "zzzz",
         std::string(StatusLineLimit - 4, 'a') + "...",
         std::string(StatusLineLimit - 4, 'a') + "\xC3\xBCzzzz"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StatusLineText(c.text), c.line) << c.text;
        EXPECT_EQ(HintText(c.text), c.hint) << c.text;
    }
}

} // namespace
} // namespace tarvel
