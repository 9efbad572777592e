"""Text in any script arrives as typed. The Wine prefix runs with the ANSI code page 1252, which holds none of
the Greek, Cyrillic, Chinese or Polish letters used here: the window, the file names and the name list must
go through Unicode for them to survive. Keys are typed one UTF-16 character at a time (WM_CHAR), as a
keyboard layout or an input method delivers them; the message is read back by Python's email package."""

import email
import email.policy

import pytest

from harness import MAIN, SENT, Main, config, winpath

BOM = b"\xef\xbb\xbf"


def test_the_code_page_holds_none_of_it(drive):
    assert drive("acp") == "1252"


def test_text_in_four_scripts_reads_back_as_typed(tray_program, drive, mailbox, program_dir):
    name, address = "Łukasz Żółkiewski", "lukasz@example.com"
    subject = "Καλημέρα από την Αθήνα"
    body = "Добрый день!\r\nОтчёт во вложении.\r\n东京的天气很好。"
    attachment = program_dir / "Отчёт.txt"
    attachment.write_bytes("Итог: 42 €\r\n".encode("utf-8") + b"\x00\xff")
    # The name goes into the header only when picked from the list, which the file holds in UTF-8.
    tray_program(config(port=mailbox.port, names=[(name, address)]))
    drive("pick", MAIN, Main.NAME, 0)
    drive.wait_text(MAIN, Main.EMAIL, address)
    drive.type_text(MAIN, Main.SUBJECT, subject)
    drive.type_text(MAIN, Main.BODY, body)
    drive.set_text(MAIN, Main.ATTACH, winpath(attachment))
    assert (drive.text(MAIN, Main.SUBJECT), drive.text(MAIN, Main.BODY)) == (subject, body)
    assert drive.send() == SENT
    assert mailbox.wait(1)
    data = mailbox.messages[0][2]

    assert all(byte < 0x80 for byte in data), "8-bit bytes on the wire"
    assert all(len(line) <= 998 for line in data.split(b"\r\n"))
    message = email.message_from_bytes(data, policy=email.policy.default)
    assert str(message["subject"]) == subject
    assert message["to"].addresses[0].display_name == name
    assert message["to"].addresses[0].addr_spec == address
    text_part = message.get_body(("plain",))
    assert text_part.get_content_charset() == "utf-8"
    assert text_part.get_content().replace("\r\n", "\n") == body.replace("\r\n", "\n") + "\n\n"
    files = list(message.iter_attachments())
    assert [part.get_filename() for part in files] == [attachment.name]
    assert files[0].get_content() == attachment.read_bytes()
    assert not [defect for part in message.walk() for defect in part.defects]


@pytest.mark.parametrize("names, fits", [
    ([("Łukasz Nowak", "l@example.pl"), ("Βασίλης Παππάς", "v@example.gr"), ("王小明", "w@example.cn")], False),
    ([("Jürgen Müller", "j@example.de"), ("Zoë Brontë", "z@example.uk")], True),
])
def test_a_name_list_is_kept_in_any_script(tray_program, start, drive, program_dir, names, fits):
    """A list the code page can hold is written in it byte for byte as before; any other in UTF-8 with the
    byte-order mark. Either way the program reads back exactly what was typed."""
    path = program_dir / "zembrix.cfg"
    program = tray_program(config())
    for name, address in names:
        drive.type_text(MAIN, Main.NAME, name)
        drive.set_text(MAIN, Main.EMAIL, address)
        drive("press", MAIN, Main.ADD)
    saved = path.read_bytes()
    assert saved == config(names=names)
    assert saved.startswith(BOM) != fits
    assert drive.items(MAIN, Main.NAME) == [name for name, _ in names]

    program.kill()
    drive("gone", MAIN, 10000)
    start()
    drive.wait_created(MAIN, Main.STATUS)
    drive.wait_for(lambda: drive.items(MAIN, Main.NAME) == [name for name, _ in names], 10, "the names read back")
    drive("pick", MAIN, Main.NAME, len(names) - 1)
    drive.wait_text(MAIN, Main.EMAIL, names[-1][1])
