// Addresses beyond ASCII in whole sessions: A-labels in the envelope and headers, SMTPUTF8 when a mailbox
// needs it (and the refusal when the server lacks it), and the Date and Message-ID of every send.
#include "core/mail/address.h"
#include "core/smtp/session_transcript.h"
#include "support/stamp_lines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarvel {
namespace {

using test::C;
using test::Closed;
using test::MessageText;
using test::S;
using test::Turn;

const std::string Utf8Box = "用户@例子.广告";
const Turn Greeting = S("220 mx.example.org ESMTP\r\n");
const Turn Ehlo = C("EHLO testhost");
const Turn OfferUtf8 = S("250-mx.example.org\r\n250-8BITMIME\r\n250 SMTPUTF8\r\n");
const Turn OfferNone = S("250-mx.example.org\r\n250 8BITMIME\r\n");
const std::vector<Turn> Delivery = {S("250 ok\r\n"), C("DATA"), S("354 go\r\n"),  MessageText,
                                    S("250 ok\r\n"), C("QUIT"), S("221 bye\r\n"), Closed};
const std::vector<Turn> QuitOnly = {C("QUIT"), S("221 bye\r\n"), Closed};

std::vector<Turn> Join(std::vector<std::vector<Turn>> parts) {
    std::vector<Turn> all;
    for (auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

class AddressSessionTest : public test::SessionFixture {};

TEST_F(AddressSessionTest, EnvelopeHeadersAndRefusalsFollowTheAddresses) {
    const std::string noUtf8 = NoSmtpUtf8Text(Utf8Box);
    const struct {
        const char* name;
        std::string sender, to;
        std::vector<std::string> recipients;
        SecurityMode mode;
        std::vector<Turn> turns;
        SendOutcome outcome;
        std::string head; // the header up to X-Mailer, as it must reach the server
    } cases[] = {
        {"a domain beyond ASCII needs nothing of the server: HELO, A-labels everywhere",
         "me@пример.рф",
         " <info@пример.рф;ann@example.com>",
         {"info@пример.рф", "ann@example.com"},
         SecurityMode::None,
         Join({{Greeting, C("HELO testhost"), S("250 mx\r\n"), C("MAIL FROM: <me@xn--e1afmkfd.xn--p1ai>"),
                S("250 ok\r\n"), C("RCPT TO: <info@xn--e1afmkfd.xn--p1ai>"), S("250 ok\r\n"),
                C("RCPT TO: <ann@example.com>")},
               Delivery}),
         SendOutcome::Accept(),
         "To:  <info@xn--e1afmkfd.xn--p1ai;ann@example.com>\r\nReply-To: me@xn--e1afmkfd.xn--p1ai\r\n"
         "From: me@xn--e1afmkfd.xn--p1ai\r\n"},
        {"a mailbox beyond ASCII: EHLO under None, SMTPUTF8, headers in UTF-8 as typed",
         "me@пример.рф",
         "Лиза <" + Utf8Box + ">",
         {Utf8Box},
         SecurityMode::None,
         Join({{Greeting, Ehlo, OfferUtf8, C("MAIL FROM: <me@xn--e1afmkfd.xn--p1ai> SMTPUTF8"),
                S("250 ok\r\n"), C("RCPT TO: <用户@xn--fsqu00a.xn--4rr70v>")},
               Delivery}),
         SendOutcome::Accept(),
         "To: Лиза <" + Utf8Box + ">\r\nReply-To: me@пример.рф\r\nFrom: me@пример.рф\r\n"},
        {"the sender's mailbox counts as well",
         Utf8Box,
         "Ann <ann@example.com>",
         {"ann@example.com"},
         SecurityMode::None,
         Join({{Greeting, Ehlo, OfferUtf8, C("MAIL FROM: <用户@xn--fsqu00a.xn--4rr70v> SMTPUTF8"),
                S("250 ok\r\n"), C("RCPT TO: <ann@example.com>")},
               Delivery}),
         SendOutcome::Accept(),
         "To: Ann <ann@example.com>\r\nReply-To: " + Utf8Box + "\r\nFrom: " + Utf8Box + "\r\n"},
        {"not offered: nothing after EHLO but QUIT",
         "me@example.org",
         " <" + Utf8Box + ">",
         {Utf8Box},
         SecurityMode::None,
         Join({{Greeting, Ehlo, OfferNone}, QuitOnly}),
         SendOutcome::Failure(noUtf8),
         ""},
        {"a server that knows no EHLO offers no SMTPUTF8",
         "me@example.org",
         " <" + Utf8Box + ">",
         {Utf8Box},
         SecurityMode::None,
         Join({{Greeting, Ehlo, S("502 5.5.2 Error: command not recognized\r\n")}, QuitOnly}),
         SendOutcome::Failure(noUtf8),
         ""},
        {"what the server offered before STARTTLS counts no more after it",
         "me@example.org",
         " <" + Utf8Box + ">",
         {Utf8Box},
         SecurityMode::StartTls,
         Join({{Greeting, Ehlo, S("250-mx\r\n250-STARTTLS\r\n250 SMTPUTF8\r\n"), C("STARTTLS"),
                S("220 go\r\n"), Turn{false, test::ScriptedConnection::TlsEntry}, Ehlo, OfferNone},
               QuitOnly}),
         SendOutcome::Failure(noUtf8),
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Message() = MailMessage{};
        Message().Sender = c.sender;
        Message().ToHeader = c.to;
        Message().Recipients = c.recipients;
        Message().Subject = "Hello";
        Message().Body = "Hi\r\n";
        session.SetSecurity(SessionSecurity{c.mode, "", ""});
        const std::size_t wireBefore = connection.Wire().size();
        Start();
        Play(c.turns);
        EXPECT_EQ(Message().Outcome, c.outcome);
        const std::string wire = connection.Wire().substr(wireBefore);
        if (c.head.empty()) {
            EXPECT_EQ(wire, "");
        } else {
            EXPECT_EQ(test::WithoutStampLines(wire).substr(0, c.head.size() + 26),
                      c.head + "X-Mailer: Tarvel Pro 1.5\r\n");
        }
    }
}

TEST_F(AddressSessionTest, AnInvalidDomainIsRefusedBeforeAnyConnect) {
    Message().Recipients = {"ann@example.com", "info@-пример.рф"};
    EXPECT_FALSE(session.Start("mx.example.org", "25"));
    EXPECT_EQ(connection.connects, 0);
    EXPECT_TRUE(connection.Log().empty());
    EXPECT_EQ(Message().Outcome,
              SendOutcome::Failure("The domain of the address info@-пример.рф is no valid domain "
                                   "name: the label \"-пример\" begins or ends with a hyphen"));
}

TEST_F(AddressSessionTest, AnAsciiSendIsUnchangedButForItsDateAndIdWhichEverySendRenews) {
    std::vector<std::string> ids;
    for (int send = 0; send < 2; ++send) {
        SCOPED_TRACE(send);
        const std::size_t wireBefore = connection.Wire().size();
        PlayToData();
        Play({S("354 go\r\n"), MessageText, S("250 ok\r\n"), C("QUIT"), S("221 bye\r\n"), Closed});
        std::string id;
        const std::string wire = test::WithoutStampLines(connection.Wire().substr(wireBefore), &id);
        ids.push_back(id);
        EXPECT_EQ(
            wire,
            "To: Ann <ann@example.com>\r\nReply-To: me@example.org\r\nFrom: me@example.org\r\n"
            "X-Mailer: Tarvel Pro 1.5\r\nSubject: Hello\r\n"
            "Content-Type: text/plain; charset=\"us-ascii\"\r\n\r\nHi Ann,\r\n..\r\nbye\r\n\r\n\r\n.\r\n");
        EXPECT_TRUE(id.ends_with("@example.org>")) << id;
    }
    EXPECT_NE(ids[0], ids[1]);
}

} // namespace
} // namespace tarvel
