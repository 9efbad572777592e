"""Sending as a user does: from a "mailto:" link, and from the tray with attachments, recipients and greetings
of every shape. What the servers stored is compared byte for byte with the text built from the rules."""

import random
import shutil

import pytest

import expected
from harness import BUILD, MAIN, SENT, WM_LBUTTONUP, Driver, Mailbox, Main, Program, config, winpath
from scripted_smtp import answering, polite

ME = "me@example.com"


def content(size, variant=0):
    return random.Random(size * 7919 + variant).randbytes(size)


def test_mailto_link_fills_the_fields_sends_and_ends(start, drive, mailbox):
    link = "mailto:bob@example.com?subject=Hello%20there&body=First%20line%0D%0A.second"
    program = start("/u", link, cfg=config(port=mailbox.port))
    drive.wait_shown(MAIN)
    assert drive.fields() == {"name": "", "email": "bob@example.com", "subject": "Hello there",
                              "body": "First line\r\n.second", "attach": ""}
    assert drive("enabled", MAIN, Main.SEND) == "1"

    drive("click", MAIN, Main.SEND)
    assert mailbox.wait(1), f"nothing arrived; status {drive.text(MAIN, Main.STATUS)!r}"
    assert program.ended(20), "the program did not end after sending in mail-to mode"
    assert program.proc.returncode == 0

    sender, recipients, data = mailbox.messages[0]
    assert (sender, recipients) == (ME, ["bob@example.com"])
    assert expected.unstamped(data) == expected.stored(expected.message(" <bob@example.com>", ME, "Hello there",
                                                    ["First line", ".second"]))


def test_mailto_link_with_two_addresses_sends_to_both(start, drive, mailbox):
    program = start("/u", "mailto:ann@example.com,bob@example.com?Subject=Two", cfg=config(port=mailbox.port))
    drive.wait_shown(MAIN)
    assert drive.text(MAIN, Main.EMAIL) == "ann@example.com;bob@example.com"
    drive("click", MAIN, Main.SEND)
    assert mailbox.wait(1) and program.ended(20)
    _, recipients, data = mailbox.messages[0]
    assert recipients == ["ann@example.com", "bob@example.com"]
    assert expected.unstamped(data) == expected.stored(expected.message(" <ann@example.com;bob@example.com>", ME, "Two"))


class Tray:
    """One tray-mode run that sends one message after another to one mailbox."""

    def __init__(self, folder):
        self.folder = folder
        self.files = folder / "files"
        self.files.mkdir()
        self.mailbox = Mailbox(folder)
        (folder / "zembrix.cfg").write_bytes(config(port=self.mailbox.port, names=[("Bob", "bob@example.com")]))
        self.program = Program(folder)
        self.drive = Driver()
        self.drive.wait_created(MAIN, Main.STATUS)
        self.drive("tray", MAIN, WM_LBUTTONUP)
        self.drive.wait_shown(MAIN)

    def file(self, name, data):
        path = self.files / name
        path.write_bytes(data)
        return path

    def send(self):
        count = len(self.mailbox.messages)
        status = self.drive.send(timeout=60)
        assert status == SENT, f"status {status!r}"
        assert self.mailbox.wait(count + 1)
        return self.mailbox.messages[count]

    def close(self):
        self.drive.close()
        self.program.kill()
        self.mailbox.stop()


class TestFromTheTray:
    """Messages sent one after another from one tray-mode run (its window is the only one while they run)."""

    @pytest.fixture(scope="class")
    def tray(self, tmp_path_factory):
        folder = tmp_path_factory.mktemp("tray") / "Tarvel"
        folder.mkdir()
        for name in ("tarvel.exe", "zembrix.ico", "zembrix.url"):
            shutil.copy(BUILD / name, folder / name)
        run = Tray(folder)
        yield run
        run.close()

    @pytest.mark.parametrize("size", [0, 57, 58, 3 * 1024 * 1024 + 1])
    def test_attachment_is_sent_as_base64_in_57_byte_lines(self, tray, size):
        data = content(size)
        path = winpath(tray.file(f"file{size}.bin", data))
        # The run is shared with the other tests of the class: undo a pick of a name one of them made.
        tray.drive("pick", MAIN, Main.NAME, -1)
        tray.drive.compose(email="bob@example.com", subject=f"{size} bytes", body="See the file.", attach=path)

        sender, recipients, stored = tray.send()
        assert (sender, recipients) == (ME, ["bob@example.com"])
        want = expected.stored(expected.message(" <bob@example.com>", ME, f"{size} bytes", ["See the file."],
                                                [(path, data)]))
        assert len(expected.unstamped(stored)) == len(want)
        assert expected.unstamped(stored) == want
        # A sent message leaves the recipient for the next one and nothing else.
        assert tray.drive.fields() == {"name": "", "email": "bob@example.com", "subject": "", "body": "",
                                       "attach": ""}
        assert tray.drive("progress", MAIN, Main.PROGRESS) == "100"
        assert tray.drive("focused", MAIN, Main.SUBJECT) == "1"

    def test_picked_name_and_two_attachments(self, tray):
        tray.drive("pick", MAIN, Main.NAME, 0)
        tray.drive.wait_text(MAIN, Main.EMAIL, "bob@example.com")
        first = tray.file("notes.txt", b"line one\r\n.line two\r\n")
        second = tray.file("photo.bin", content(1000))
        # "/" separates nothing in a path: the name is everything after the drive's colon.
        paths = [winpath(first), winpath(second).replace("\\", "/")]
        tray.drive.compose(subject="Two files", body="Hi Bob,\r\n\r\n.\r\nBye", attach=";".join(paths))

        _, recipients, stored = tray.send()
        assert recipients == ["bob@example.com"]
        assert expected.unstamped(stored) == expected.stored(expected.message(
            "Bob <bob@example.com>", ME, "Two files", ["Hi Bob,", "", ".", "Bye"],
            [(paths[0], first.read_bytes()), (paths[1], second.read_bytes())]))
        assert f'name="{paths[1][2:]}";'.encode() in stored


def test_recipients_split_at_semicolons_and_dots_stuffed_on_the_wire(tray_program, drive, scripted):
    server = scripted(polite)
    tray_program(config(port=server.port))
    drive.compose(email="ann@example.com;;bob@example.com;", subject=".not stuffed in a header",
                  body=".\r\n.hidden\r\nlast.")
    assert drive.send() == SENT
    assert server.done.wait(10)
    assert server.lines[0].startswith("HELO ") and len(server.lines[0]) > 5, server.lines
    assert server.lines[1:] == ["MAIL FROM: <me@example.com>", "RCPT TO: <ann@example.com>",
                                "RCPT TO: <bob@example.com>", "DATA", "QUIT"]
    text = expected.message(" <ann@example.com;;bob@example.com;>", ME, ".not stuffed in a header",
                            [".", ".hidden", "last."])
    assert expected.unstamped(server.message) == expected.on_the_wire(text) + b"\r\n"
    assert b"\r\n..\r\n..hidden\r\nlast.\r\n" in server.message


@pytest.mark.parametrize("greeting,helo_reply", [
    (["22", "0 ready\r\n"], ["250 hello\r\n"]),
    (["220-welcome\r\n220 ready\r\n"], ["250-hello\r\n250 HELP\r\n"]),
    (["220-welcome\r\n", "220-to the\r\n", "220 test\r\n"], ["250-hello\r\n", "250 HELP\r\n"]),
], ids=["split", "multi-line", "multi-line-in-pieces"])
def test_greetings_and_replies_in_any_shape_give_one_command_each(tray_program, drive, scripted, greeting,
                                                                 helo_reply):
    server = scripted(answering({"HELO": helo_reply}, greeting=greeting))
    tray_program(config(port=server.port))
    drive.compose(email="bob@example.com", subject="Shapes", body="Hello")
    status = drive.send()
    assert server.done.wait(10)
    assert [line.split(" ")[0] for line in server.lines] == ["HELO", "MAIL", "RCPT", "DATA", "QUIT"], server.lines
    assert status == SENT
    assert expected.unstamped(server.message) == expected.message(" <bob@example.com>", ME, "Shapes", ["Hello"]) + b"\r\n"


def test_browse_picks_files_to_attach(tray_program, drive, mailbox, program_dir):
    """The file dialog as a user works it: one file, then two at once, then Cancel; every pick is appended."""
    picker = "Select file to attach"
    name_box, open_button = "Edit@7,5", "Button=&Open"
    files = program_dir / "files"
    files.mkdir()
    data = {name: content(100 + i) for i, name in enumerate(("a.txt", "b.bin", "c.bin"))}
    for name, body in data.items():
        (files / name).write_bytes(body)
    tray_program(config(port=mailbox.port))

    def pick(*typed):
        drive("click", MAIN, Main.BROWSE)
        drive.wait_shown(picker)
        for text in typed:  # a folder first makes the dialog go there
            drive.set_text(picker, name_box, text)
            drive("press", picker, open_button)
        drive.wait_gone(picker)

    pick(winpath(files / "a.txt"))
    assert drive.text(MAIN, Main.ATTACH) == winpath(files / "a.txt")
    pick(winpath(files), '"b.bin" "c.bin"')
    paths = [winpath(files / name) for name in data]
    assert drive.text(MAIN, Main.ATTACH) == ";".join(paths)
    drive("click", MAIN, Main.BROWSE)
    drive.wait_shown(picker)
    drive("click", picker, "Button=Cancel")
    drive.wait_gone(picker)
    assert drive.text(MAIN, Main.ATTACH) == ";".join(paths)

    drive.compose(email="bob@example.com", subject="Picked")
    assert drive.send() == SENT
    assert mailbox.wait(1)
    assert expected.unstamped(mailbox.messages[0][2]) == expected.stored(expected.message(
        " <bob@example.com>", ME, "Picked", attachments=[(p, data[p.rsplit("\\", 1)[1]]) for p in paths]))
