"""Addresses beyond ASCII typed through the window: a domain goes out as its A-label, a mailbox goes with
SMTPUTF8 through a Postfix that offers it or is refused with the program's sentence by a server that does not;
and every message's Date and Message-ID, read back with Python's email package."""

import datetime
import email
import email.policy
import email.utils
import secrets

import pytest

import expected
from harness import MAIN, SENT, Mailbox, Main, config
from scripted_smtp import polite
from submission_servers import SubmissionServerError, SubmissionServers

ME = "me@example.com"
UTF8_BOX = "用户@例子.广告"
UTF8_BOX_ENVELOPE = "用户@xn--fsqu00a.xn--4rr70v"


def typed(text):
    """What the window holds once the text is typed: its UTF-8 bytes, which the driver passes through."""
    return text.encode("utf-8").decode("latin-1")


@pytest.fixture(scope="module")
def postfix_utf8(tmp_path_factory):
    """Postfix offering SMTPUTF8 on its plain service, relaying to a capture that offers it too."""
    mailbox = Mailbox(tmp_path_factory.mktemp("relayed-utf8"), smtputf8=True)
    try:
        servers = SubmissionServers({}, mailbox.port, smtputf8=True)
    except SubmissionServerError as e:
        mailbox.stop()
        pytest.fail(f"the Postfix submission server could not be started: {e}", pytrace=False)
    servers.mailbox = mailbox
    yield servers
    servers.stop()
    mailbox.stop()


def test_idn_domain_goes_as_its_a_label_and_each_send_has_its_own_date_and_id(tray_program, drive, mailbox):
    tray_program(config(port=mailbox.port))
    sent_at = []
    for subject in ("First", "Second"):
        drive.compose(email=typed("info@Пример.рф"), subject=subject, body="Hello")
        sent_at.append(datetime.datetime.now(datetime.timezone.utc))
        assert drive.send() == SENT
    assert mailbox.wait(2)
    ids = []
    for (sender, recipients, data), when in zip(mailbox.messages, sent_at):
        assert (sender, recipients) == (ME, ["info@xn--e1afmkfd.xn--p1ai"])
        assert data.startswith(b"To:  <info@xn--e1afmkfd.xn--p1ai>\r\n"), data[:200]
        parsed = email.message_from_bytes(data, policy=email.policy.default)
        date = email.utils.parsedate_to_datetime(parsed["Date"])
        assert abs((date - when).total_seconds()) < 60, (parsed["Date"], when)
        assert expected.stamp(data) == (date, parsed["Message-ID"])
        ids.append(parsed["Message-ID"])
        assert ids[-1].endswith("@example.com>"), ids[-1]
    assert ids[0] != ids[1]


def test_mailbox_beyond_ascii_goes_with_smtputf8_through_postfix(postfix_utf8, tray_program, drive):
    tray_program(config(port=postfix_utf8.ports["plain"]))
    subject = f"UTF-8 mailbox {secrets.token_hex(4)}"
    drive.compose(email=typed(UTF8_BOX), subject=subject, body="Hello")
    assert drive.send(timeout=60) == SENT, postfix_utf8.log()
    assert postfix_utf8.mailbox.wait(1), postfix_utf8.log()
    sender, recipients, data = postfix_utf8.mailbox.messages[0]
    assert (sender, recipients) == (ME, [UTF8_BOX_ENVELOPE])
    # The address header in UTF-8 as typed (RFC 6532), not encoded.
    assert f"\r\nTo:  <{UTF8_BOX}>\r\n".encode() in data, data[:400]
    # The bytes parser reads 8-bit headers as undecodable: an RFC 6532 message is UTF-8 text throughout.
    parsed = email.message_from_string(data.decode("utf-8"), policy=email.policy.SMTPUTF8)
    assert parsed["Subject"] == subject
    assert [a.addr_spec for a in parsed["To"].addresses] == [UTF8_BOX]
    summary = postfix_utf8.sessions("plain")[-1]
    assert {k: summary.get(k) for k in ("ehlo", "helo", "mail")} == {"ehlo": "1", "helo": None, "mail": "1"}


def test_mailbox_beyond_ascii_is_refused_by_a_server_without_smtputf8(tray_program, drive, scripted):
    server = scripted(polite)
    tray_program(config(port=server.port))
    drive.compose(email=typed(UTF8_BOX), subject="Not for this server", body="Hello")
    assert drive.send() == typed(f"The server cannot take the address {UTF8_BOX}: it does not offer SMTPUTF8")
    assert server.done.wait(10)
    assert [line.split(" ")[0] for line in server.lines] == ["EHLO", "QUIT"]
    # Nothing typed is lost.
    assert drive.text(MAIN, Main.EMAIL) == typed(UTF8_BOX)
    assert drive.text(MAIN, Main.SUBJECT) == "Not for this server"
