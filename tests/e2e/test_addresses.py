"""Addresses beyond ASCII typed through the window: a domain goes out as its A-label, a mailbox goes with
SMTPUTF8 through a Postfix that offers it or is refused with the program's sentence by a server that does not;
and every message's Date and Message-ID, read back with Python's email package."""

import datetime
import email
import email.policy
import email.utils

import pytest

import expected
from harness import MAIN, SENT, Mailbox, Main, config
from scripted_smtp import polite
from submission_servers import SubmissionServerError, SubmissionServers

BOX = "用户@例子.广告"


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
    yield servers, mailbox
    servers.stop()
    mailbox.stop()


def test_idn_domain_goes_as_its_a_label_and_each_send_has_its_own_date_and_id(tray_program, drive, mailbox):
    tray_program(config(port=mailbox.port))
    ids = set()
    for subject in ("First", "Second"):
        drive.compose(email=typed("info@Пример.рф"), subject=subject, body="Hello")
        now = datetime.datetime.now(datetime.timezone.utc)
        assert drive.send() == SENT
        assert mailbox.wait(len(ids) + 1)
        sender, recipients, data = mailbox.messages[-1]
        assert (sender, recipients) == ("me@example.com", ["info@xn--e1afmkfd.xn--p1ai"])
        assert data.startswith(b"To:  <info@xn--e1afmkfd.xn--p1ai>\r\n"), data[:200]
        parsed = email.message_from_bytes(data, policy=email.policy.default)
        date = email.utils.parsedate_to_datetime(parsed["Date"])
        assert abs((date - now).total_seconds()) < 60, (parsed["Date"], now)
        assert expected.stamp(data) == (date, parsed["Message-ID"]) and parsed["Message-ID"].endswith("@example.com>")
        ids.add(parsed["Message-ID"])
    assert len(ids) == 2


def test_mailbox_beyond_ascii_goes_with_smtputf8_through_postfix(postfix_utf8, tray_program, drive):
    postfix, relayed = postfix_utf8
    tray_program(config(port=postfix.ports["plain"]))
    drive.compose(email=typed(BOX), subject="UTF-8 mailbox", body="Hello")
    assert drive.send(timeout=60) == SENT, postfix.log()
    assert relayed.wait(1), postfix.log()
    sender, recipients, data = relayed.messages[0]
    assert (sender, recipients) == ("me@example.com", ["用户@xn--fsqu00a.xn--4rr70v"])
    # The address header in UTF-8 as typed (RFC 6532); the bytes parser would not decode it, so: as text.
    assert f"\r\nTo:  <{BOX}>\r\n".encode() in data, data[:400]
    parsed = email.message_from_string(data.decode("utf-8"), policy=email.policy.SMTPUTF8)
    assert [a.addr_spec for a in parsed["To"].addresses] == [BOX]
    summary = postfix.sessions("plain")[-1]
    assert (summary.get("ehlo"), summary.get("helo"), summary.get("mail")) == ("1", None, "1")


def test_mailbox_beyond_ascii_is_refused_by_a_server_without_smtputf8(tray_program, drive, scripted):
    server = scripted(polite)
    tray_program(config(port=server.port))
    drive.compose(email=typed(BOX), subject="Not for this server", body="Hello")
    assert drive.send() == typed(f"The server cannot take the address {BOX}: it does not offer SMTPUTF8")
    assert server.done.wait(10)
    assert [line.split(" ")[0] for line in server.lines] == ["EHLO", "QUIT"]
    assert (drive.text(MAIN, Main.EMAIL), drive.text(MAIN, Main.SUBJECT)) == (typed(BOX), "Not for this server")
