// Addresses beyond ASCII in whole sessions: A-labels in the envelope and headers, SMTPUTF8 when a mailbox
// needs it (and the refusal when the server lacks it), and the Date and Message-ID of every send.
#include "core/mail/address.h"
#include "core/smtp/session_transcript.h"
#include "support/stamp_lines.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace tarvel {
namespace {

using test::C;
using test::S;
using test::Turn;

using AddressSession = test::SessionFixture;

const std::string Box = "用户@例子.广告";
const std::string Idn = "me@пример.рф";
const std::string IdnA = "me@xn--e1afmkfd.xn--p1ai";
const std::string Utf8 = "250-mx\r\n250 SMTPUTF8\r\n";

// The greeting, the hello and its reply, then either the delivery from MAIL FROM on or "QUIT".
std::vector<Turn> Session(std::string hello, std::string offer, std::vector<std::string> commands) {
    std::vector<Turn> turns = {S("220 mx\r\n"), C(hello + " testhost")};
    if (commands.empty()) commands = {"QUIT"};
    for (const std::string& command : commands)
        turns.insert(turns.end(), {S(std::exchange(offer, "250 ok\r\n")), C(command)});
    if (commands.back() == "DATA") turns.insert(turns.end(), {S("354 go\r\n"), test::MessageText});
    if (commands.back() == "DATA") turns.insert(turns.end(), {S("250 ok\r\n"), C("QUIT")});
    return turns;
}

TEST_F(AddressSession, AddressesBeyondAsciiDecideEnvelopeHeadersAndRefusals) {
    const SendOutcome refused = SendOutcome::Failure(NoSmtpUtf8Text(Box));
    const struct {
        std::string sender, to;
        std::vector<std::string> recipients;
        std::vector<Turn> turns;
        SendOutcome outcome;
        std::string head; // the address headers as they must reach the server
    } cases[] = {
        // A domain needs nothing of the server: HELO as always, A-labels in the envelope and headers.
        {Idn,
         " <info@пример.рф;a@b.c>",
         {"info@пример.рф", "a@b.c"},
         Session("HELO", "250 mx\r\n",
                 {"MAIL FROM: <" + IdnA + ">", "RCPT TO: <info@xn--e1afmkfd.xn--p1ai>", "RCPT TO: <a@b.c>",
                  "DATA"}),
         SendOutcome::Accept(),
         "To:  <info@xn--e1afmkfd.xn--p1ai;a@b.c>\r\nReply-To: " + IdnA + "\r\nFrom: " + IdnA + "\r\n"},
        // A mailbox: EHLO under "None", SMTPUTF8, the headers in UTF-8 as typed.
        {Idn,
         "Лиза <" + Box + ">",
         {Box},
         Session("EHLO", Utf8,
                 {"MAIL FROM: <" + IdnA + "> SMTPUTF8", "RCPT TO: <用户@xn--fsqu00a.xn--4rr70v>", "DATA"}),
         SendOutcome::Accept(),
         "To: Лиза <" + Box + ">\r\nReply-To: " + Idn + "\r\nFrom: " + Idn + "\r\n"},
        {Box,
         "<a@b.c>",
         {"a@b.c"},
         Session("EHLO", Utf8,
                 {"MAIL FROM: <用户@xn--fsqu00a.xn--4rr70v> SMTPUTF8", "RCPT TO: <a@b.c>", "DATA"}),
         SendOutcome::Accept(),
         "To: <a@b.c>\r\nReply-To: " + Box + "\r\nFrom: " + Box + "\r\n"},
        // Plain ASCII: HELO and every header byte for byte as before.
        {"me@x.org",
         "Ann <a@b.c>",
         {"a@b.c"},
         Session("HELO", "250 mx\r\n", {"MAIL FROM: <me@x.org>", "RCPT TO: <a@b.c>", "DATA"}),
         SendOutcome::Accept(),
         "To: Ann <a@b.c>\r\nReply-To: me@x.org\r\nFrom: me@x.org\r\nX-Mailer: Tarvel Pro 1.5\r\nSubject: "
         "Hello\r\n"},
        // Not offered, or no EHLO at all: nothing after it but QUIT.
        {"me@x.org", "<" + Box + ">", {Box}, Session("EHLO", "250-mx\r\n250 8BITMIME\r\n", {}), refused, ""},
        {"me@x.org", "<" + Box + ">", {Box}, Session("EHLO", "502 5.5.2 unknown\r\n", {}), refused, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.to);
        Message() = MailMessage{};
        Message().Sender = c.sender;
        Message().ToHeader = c.to;
        Message().Recipients = c.recipients;
        Message().Subject = "Hello";
        const std::size_t before = connection.Wire().size();
        Start();
        Play(c.turns);
        Play({S("221 bye\r\n"), test::Closed});
        EXPECT_EQ(Message().Outcome, c.outcome);
        const std::string wire = connection.Wire().substr(before);
        EXPECT_EQ(c.head.empty() ? wire : test::WithoutStampLines(wire).substr(0, c.head.size()), c.head);
    }
}

TEST_F(AddressSession, SmtpUtf8OfferedBeforeStartTlsCountsNoMoreAfterIt) {
    Message().Recipients = {Box};
    session.SetSecurity(SessionSecurity{SecurityMode::StartTls, "", ""});
    Start();
    Play({S("220 mx\r\n"), C("EHLO testhost"), S("250-mx\r\n250-STARTTLS\r\n250 SMTPUTF8\r\n"), C("STARTTLS"),
          S("220 go\r\n"), Turn{false, test::ScriptedConnection::TlsEntry}, C("EHLO testhost"),
          S("250 mx\r\n"), C("QUIT")});
    EXPECT_EQ(Message().Outcome, SendOutcome::Failure(NoSmtpUtf8Text(Box)));
}

TEST_F(AddressSession, AnInvalidDomainIsRefusedBeforeAnyConnect) {
    Message().Recipients = {"ann@example.com", "info@-пример.рф"};
    EXPECT_FALSE(session.Start("mx.example.org", "25"));
    EXPECT_EQ(connection.connects, 0);
    EXPECT_EQ(Message().Outcome,
              SendOutcome::Failure("The domain of the address info@-пример.рф is no valid "
                                   "domain name: the label \"-пример\" begins or ends with a hyphen"));
}

} // namespace
} // namespace tarvel
