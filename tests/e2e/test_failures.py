"""Sends that fail: refusals, a closed port, a server that hangs up, resets or stalls, and the user's Cancel.
Each ends with a true status, the Send button back, and nothing the user typed lost."""

import socket
import struct
import threading

import pytest

import expected
from harness import CANCELLED, MAIN, MENU_CLOSE, NOT_SENT, SENT, Main, config, free_port, winpath
from scripted_smtp import answering, hang_up, hold, mute, polite

TYPED = {"email": "ann@example.com;bob@example.com", "subject": "Quarterly figures", "body": "Dear both,\r\nsee below."}


def compose_typed(drive, attach=None):
    drive.compose(attach=attach, **TYPED)


def assert_kept(drive, attach=""):
    """A failed or cancelled send leaves every field as the user typed it, and Send ready again."""
    fields = drive.fields()
    assert fields == {"name": "", "attach": attach, **TYPED}, fields
    assert drive.text(MAIN, Main.SEND) == "&Send"
    assert drive("enabled", MAIN, Main.SEND) == "1"


def test_refused_recipient_refuses_the_message(tray_program, drive, scripted):
    reply = "550 5.1.1 <bob@example.com>: no such user here\r\n"
    server = scripted(answering({"RCPT TO: <bob@example.com>": reply}))
    tray_program(config(port=server.port))
    compose_typed(drive)
    assert drive.send() == reply.rstrip()
    assert server.done.wait(10)
    assert server.lines[1:] == ["MAIL FROM: <me@example.com>", "RCPT TO: <ann@example.com>",
                                "RCPT TO: <bob@example.com>", "QUIT"]
    assert_kept(drive)


@pytest.mark.parametrize("reply", ["553 5.1.8 sender address rejected\r\n", "550 5.7.1 not from here\r\n"],
                         ids=["553", "550"])
def test_refused_sender_refuses_the_message(tray_program, drive, scripted, reply):
    server = scripted(answering({"MAIL": reply}))
    tray_program(config(port=server.port))
    compose_typed(drive)
    assert drive.send() == reply.rstrip()
    assert server.done.wait(10)
    assert server.lines[1:] == ["MAIL FROM: <me@example.com>", "QUIT"]
    assert_kept(drive)


@pytest.mark.parametrize("greeting", ["421 4.3.2 too busy, try later\r\n", "554 5.3.2 no service for you\r\n"],
                         ids=["421", "554"])
def test_refused_greeting_says_why(tray_program, drive, scripted, greeting):
    server = scripted(answering(greeting=greeting))
    tray_program(config(port=server.port))
    compose_typed(drive)
    assert drive.send() == greeting.rstrip()
    assert server.done.wait(10)
    assert server.lines == ["QUIT"]
    assert_kept(drive)


def test_connection_refused_then_the_same_message_goes_once_the_server_is_up(tray_program, drive, scripted):
    port = free_port()
    tray_program(config(port=port))
    compose_typed(drive)
    assert drive.send() == "Connection refused"
    assert_kept(drive)

    server = scripted(polite, port)
    assert drive.send() == SENT
    assert server.done.wait(10)
    assert [line.split(" ")[0] for line in server.lines] == ["HELO", "MAIL", "RCPT", "RCPT", "DATA", "QUIT"]
    assert server.message.endswith(b"Dear both,\r\nsee below.\r\n\r\n\r\n")


def test_server_that_hangs_up_after_its_greeting(tray_program, drive, scripted):
    server = scripted(hang_up)
    tray_program(config(port=server.port))
    compose_typed(drive)
    assert drive.send() == NOT_SENT
    assert_kept(drive)


@pytest.fixture(scope="module")
def big_file(tmp_path_factory):
    """An attachment too large for the connection's buffers, so that a send of it is still under way."""
    path = tmp_path_factory.mktemp("big") / "archive.bin"
    with open(path, "wb") as f:
        block = bytes(range(256)) * 4096
        for _ in range(12):
            f.write(block)
    return path


def test_reset_during_data_shows_the_reset(tray_program, drive, scripted, big_file):
    def reset(session):
        got = 0
        while got < 200_000:
            chunk = session.read_some()
            if not chunk:
                break
            got += len(chunk)
        # An abortive close: the client's next send meets a reset.
        session.conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        session.close()

    server = scripted(answering(at_data=reset))
    tray_program(config(port=server.port))
    compose_typed(drive, attach=winpath(big_file))
    assert drive.send() == "Connection reset by peer"
    assert_kept(drive, attach=winpath(big_file))


def test_stalled_server_ends_in_timeout(tray_program, drive, scripted):
    """Nothing moves after HELO: the time-out aborts with "TimeOut" and a QUIT. The program counts 30 ticks;
    TARVEL_TIMEOUT_TICKS asks for fewer where the program supports it."""
    server = scripted(mute)
    tray_program(config(port=server.port), env={"TARVEL_TIMEOUT_TICKS": "3"})
    compose_typed(drive)
    assert drive.send(timeout=60) == "TimeOut"
    assert server.done.wait(10)
    assert server.lines[0].startswith("HELO ") and server.lines[1:] == ["QUIT"], server.lines
    assert_kept(drive)


def test_cancel_during_a_large_attachment(tray_program, drive, scripted, big_file):
    release = threading.Event()
    after_data = bytearray()

    def drain_after_cancel(session):
        # Read nothing until the test has cancelled: the program's writes fill the buffers and wait.
        release.wait(60)
        while chunk := session.read_some():
            after_data.extend(chunk)

    server = scripted(answering(at_data=drain_after_cancel))
    tray_program(config(port=server.port))
    compose_typed(drive, attach=winpath(big_file))
    drive("press", MAIN, Main.SEND)
    drive.wait_text(MAIN, Main.SEND, "&Cancel")
    drive.wait_for(lambda: 0 < int(drive("progress", MAIN, Main.PROGRESS)) < 100, 20, "a transfer under way")

    drive("press", MAIN, Main.SEND)
    status = drive.wait_outcome(timeout=10)
    release.set()
    assert status == CANCELLED
    assert_kept(drive, attach=winpath(big_file))
    assert server.done.wait(20)
    # The message was cut short: no end-of-data line, far fewer bytes than the attachment's base64.
    assert b"\r\n.\r\n" not in after_data
    assert len(after_data) < big_file.stat().st_size * 4 // 3

    # Nothing of the cancelled send is in the way of the next one: the same message goes whole.
    server.close()
    again = scripted(polite, server.port)
    assert drive.send(timeout=60) == SENT
    assert again.done.wait(20)
    text = expected.message(" <ann@example.com;bob@example.com>", "me@example.com", TYPED["subject"],
                            TYPED["body"].split("\r\n"), [(winpath(big_file), big_file.read_bytes())])
    assert expected.unstamped(again.message) == expected.on_the_wire(text) + b"\r\n"


def test_send_that_cannot_start_says_why_and_connects_nowhere(tray_program, drive, scripted, tmp_path):
    server = scripted(polite)
    tray_program(config(port=server.port))
    missing = winpath(tmp_path / "gone.txt")
    drive.compose(email="bob@example.com", subject="With a file", body="Kept", attach=missing)
    assert drive.send() == "Cannot read the attachment " + missing
    drive.compose(email=";", attach="")
    assert drive.send() == "No recipient address to send the mail to"
    assert not server.done.wait(1) and server.lines == []
    assert drive.fields()["body"] == "Kept"


def test_mailto_mode_stays_after_a_failure_until_closed(start, drive):
    program = start("/u", "mailto:bob@example.com?subject=Retry%20later", cfg=config(port=free_port()))
    drive.wait_shown(MAIN)
    drive.set_text(MAIN, Main.BODY, "Kept")
    assert drive.send() == "Connection refused"
    assert program.running() and drive("visible", MAIN) == "1"
    assert (drive.text(MAIN, Main.SUBJECT), drive.text(MAIN, Main.BODY)) == ("Retry later", "Kept")
    drive("click", MAIN, Main.CLOSE)
    assert program.ended(15)


def test_tray_menu_close_during_a_send_ends_the_program(tray_program, drive, scripted, big_file):
    server = scripted(answering(at_data=hold))
    program = tray_program(config(port=server.port))
    compose_typed(drive, attach=winpath(big_file))
    drive("press", MAIN, Main.SEND)
    drive.wait_text(MAIN, Main.SEND, "&Cancel")
    drive("menu", MAIN, MENU_CLOSE)
    assert program.ended(15), "Close in the tray menu did not end the program during a send"
