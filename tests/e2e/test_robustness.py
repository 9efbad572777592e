"""What a user's machine may do to the program: start it twice, kill it in the middle of a send, or hand it a
zembrix.cfg of random bytes or with LF-only lines: it starts, shows what it could read, and never crashes; one
of 10 MB it refuses with a message. The configuration file is never harmed."""

import random

import pytest

import expected
from harness import MAIN, MENU_PROPERTIES, MESSAGE_BOX, SENT, SETTINGS, WM_LBUTTONUP, Main, Settings, config, winpath
from scripted_smtp import answering, hold


def main_windows(drive):
    return [pid for cls, title, _, pid in drive.toplevels("Tarvel Pro") if cls == "TfrmMain"]


def test_two_instances_each_with_its_own_tray_icon(start, drive, mailbox):
    """A "mailto:" link clicked while the tray-mode program runs starts a second process beside it."""
    resident = start(cfg=config(port=mailbox.port))
    drive.wait_created(MAIN, Main.STATUS)
    first = main_windows(drive)
    assert len(first) == 1
    link = start("/u", "mailto:bob@example.com?subject=From%20the%20link")
    drive.wait_for(lambda: len(main_windows(drive)) == 2, 15, "a second main window")
    second = next(pid for pid in main_windows(drive) if pid not in first)
    linked = f"@TfrmMain#{second}/Tarvel Pro"
    resident_window = f"@TfrmMain#{first[0]}/Tarvel Pro"
    drive.wait_for(lambda: drive.tray_icons() == 2, 10, "two tray icons")
    drive.wait_shown(linked)
    assert drive("visible", resident_window) == "0"

    drive("press", linked, Main.SEND)
    assert mailbox.wait(1)
    assert link.ended(20)
    assert resident.running()
    drive.wait_for(lambda: drive.tray_icons() == 1, 10, "one tray icon left")

    drive("tray", resident_window, WM_LBUTTONUP)
    drive.wait_shown(resident_window)
    drive.compose(email="ann@example.com", subject="From the tray")
    assert drive.send() == SENT
    assert mailbox.wait(2)
    assert [m[1] for m in mailbox.messages] == [["bob@example.com"], ["ann@example.com"]]


def test_killed_during_a_send_leaves_the_configuration_whole(start, tray_program, drive, scripted, program_dir,
                                                             tmp_path):
    big = tmp_path / "big.bin"
    big.write_bytes(bytes(range(256)) * 4096 * 12)
    server = scripted(answering(at_data=hold))
    cfg = config(port=server.port, names=[("Ann", "ann@example.com"), ("Bob", "bob@example.com")])
    program = tray_program(cfg)
    drive.compose(email="bob@example.com", subject="Never finished", attach=winpath(big))
    drive("press", MAIN, Main.SEND)
    drive.wait_for(lambda: 0 < int(drive("progress", MAIN, Main.PROGRESS)) < 100, 20, "a transfer under way")
    program.kill()
    drive.wait_gone(MAIN)

    assert (program_dir / "zembrix.cfg").read_bytes() == cfg
    assert {p.name for p in program_dir.iterdir()} == {"tarvel.exe", "zembrix.ico", "zembrix.url", "zembrix.cfg"}
    start()
    drive.wait_created(MAIN, Main.STATUS)
    drive.wait_for(lambda: drive("count", MAIN, Main.NAME) == "2", 15, "the two names")
    assert drive.items(MAIN, Main.NAME) == ["Ann", "Bob"]


def random_bytes(size, variant, without=b""):
    data = bytearray(random.Random(variant).randbytes(size))
    return bytes(b for b in data if b not in without)


def ten_megabytes():
    lines = [b"127.0.0.1:1", b"me@example.com", b":", b"FALSE"]
    size, i = sum(len(line) + 2 for line in lines), 0
    while size < 10 * 1024 * 1024:
        pair = [b"Name %06d" % i, b"person%06d@example.com;" % i + b"x" * 150]
        lines += pair
        size += sum(len(line) + 2 for line in pair)
        i += 1
    return b"".join(line + b"\r\n" for line in lines)


def shown(text):
    """A text as a window shows it: up to its first zero byte."""
    return text.split("\x00", 1)[0]


@pytest.mark.parametrize("data", [
    random_bytes(4096, 1),
    random_bytes(65536, 2, without=b"\x1a"),
    b"127.0.0.1:25\nme@example.com\nMy ISP:pw\nTRUE\nAnn\nann@example.com\n",
], ids=["random", "random-without-ctrl-z", "lf-only"])
def test_any_configuration_file_starts_and_shows_what_it_could_read(start, drive, program_dir, data):
    server, port, email, _, _, _, names, _ = expected.read_config(data)
    program = start(cfg=data)
    drive.wait_created(MAIN, Main.STATUS, timeout=60)

    # The name list is filled while the window is being created: wait for all of it.
    count = len(names)
    drive.wait_for(lambda: int(drive("count", MAIN, Main.NAME)) == count, 60, f"{count} names")
    for i in sorted({0, count // 2, count - 1} if count > 200 else range(count)):
        assert drive.item(MAIN, Main.NAME, i) == shown(names[i]), f"item {i}"

    drive("menu", MAIN, MENU_PROPERTIES)
    drive.wait_shown(SETTINGS)
    assert drive.text(SETTINGS, Settings.SMTP) == shown(server)
    assert drive.text(SETTINGS, Settings.PORT) == shown(port)
    assert drive.text(SETTINGS, Settings.EMAIL) == shown(email)
    drive("click", SETTINGS, Settings.CANCEL)
    drive.wait_gone(SETTINGS)

    # Whatever was read, a send ends with a status of its own, not a crash.
    drive("tray", MAIN, WM_LBUTTONUP)
    drive.wait_shown(MAIN)
    drive.compose(email="bob@example.com", subject="After a strange file")
    status = drive.send(timeout=45)
    assert status and status != SENT
    assert program.running()
    assert (program_dir / "zembrix.cfg").read_bytes() == data


def test_configuration_file_of_ten_megabytes_is_refused_with_a_message(start, drive, program_dir):
    data = ten_megabytes()
    program = start(cfg=data)
    drive.wait_shown(MESSAGE_BOX, timeout=60)
    message = " ".join(c.split("=", 1)[1] for c in drive.children(MESSAGE_BOX))
    assert "is larger than 1 MB and was not read" in message, message
    drive("click", MESSAGE_BOX, "Button=OK")
    assert program.ended(20)
    assert program.proc.returncode != 0
    assert (program_dir / "zembrix.cfg").read_bytes() == data
